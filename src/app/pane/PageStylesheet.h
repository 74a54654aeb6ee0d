// The one way this program applies a stylesheet to a feed.
//
// A stylesheet in the home is a file anyone might have put there, so it runs
// with no more reach than the page it builds: document() reads only the feed
// being shown and the stylesheet itself; xsl:include and xsl:import take
// only stylesheets from the stylesheet's own folder; nothing is written, no
// folder is made, no address of the network is read. A refused read gives
// an empty node-set and the page is built all the same. Files that are read
// are parsed without entity substitution, DTD loading or network access.
//
// libxslt's messages go to the caller's exception text, never to stderr.
// Safe to call on several threads at once.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct _xmlDoc;

namespace quillet {

struct XmlDocFree {
    void operator()(_xmlDoc* doc) const;
};
using XmlDocPtr = std::unique_ptr<_xmlDoc, XmlDocFree>;

// Parses an XML file with the program's safe options (no network, no DTD,
// no entity substitution). Raises std::runtime_error naming `what` ("file",
// "stylesheet") when it cannot be opened or is not well-formed.
XmlDocPtr ReadPageXml(const QString& path, const char* what);

// Applies the stylesheet file `xslPath` to `feed`, the parsed document of
// the file `feedPath`, and returns the serialised result. `scheme` is the
// desktop's colour scheme, "light" or "dark", handed to the stylesheet as
// its parameter `scheme`; anything else passes no parameter, and the
// stylesheet's default applies. `lightPane` passes the parameter `pane` as
// 'light': the page is for the light pane's rich text (a stylesheet that
// does not know the parameter ignores it). Raises std::runtime_error with libxslt's
// message when the stylesheet is broken or stops with an error.
QByteArray ApplyPageStylesheet(_xmlDoc* feed, const QString& feedPath, const QString& xslPath,
                               const QString& scheme = QString(), bool lightPane = false);

}  // namespace quillet
