// "Notify about new items", per feed: a notify="False" attribute on the
// feed's <item> element of config.xml. Without the attribute the feed
// notifies, so lists written before the switch existed load unchanged.
#pragma once

#include "XmlDom.h"

// False only for an attribute that reads as false; anything unreadable
// leaves the feed notifying, as no one asked for silence.
bool FeedNotifies(const xml::Node& item);
// On removes the attribute (the default needs none); off writes "False".
void SetFeedNotifies(xml::Node item, bool notify);
