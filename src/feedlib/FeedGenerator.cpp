// The RSS 2.0 generator: every feed is stored in this one form, whatever it
// was read from, and read back through the RSS parser. Required texts are
// always written (placeholders when empty); optional ones only when the
// model says they were set.
#include <string>

#include "FeedDocument.h"
#include "FeedUtils.h"

namespace feed {

namespace {

constexpr const char* kLibraryHomePage = "https://quillet.org/feedlib";
constexpr const char* kLicenceAddress = "http://creativecommons.org/licenses/by-sa/1.0/";
constexpr const char* kContentNamespace = "http://purl.org/rss/1.0/modules/content/";

// A body that is nothing once cleaned for XML would read back as none.
bool HasStorableText(const std::string& text) { return !text.empty() && !xml::CleanText(text).empty(); }

void AppendText(xml::Node& parent, const char* name, const std::string& text) {
    parent.AppendElement(name).SetText(text);
}

void AppendDate(xml::Node& parent, const char* name, const TRFC822DateTime& date) {
    if (date.Modified()) AppendText(parent, name, date.ToRFC822());
}

void WriteCloud(xml::Node& channel, const TRSSCloud& cloud) {
    xml::Node element = channel.AppendElement("cloud");
    element.SetAttribute("domain", cloud.Domain());
    element.SetAttribute("port", std::to_string(cloud.Port()));
    element.SetAttribute("path", cloud.Path());
    element.SetAttribute("registerProcedure", cloud.RegisterProcedure());
    element.SetAttribute("protocol", cloud.Protocol());
}

void WriteImage(xml::Node& channel, const TRSSImage& image) {
    xml::Node element = channel.AppendElement("image");
    AppendText(element, "url", image.Required().URL());
    AppendText(element, "title", image.Required().Title());
    AppendText(element, "link", image.Required().Link());
    const TRSSImageOpt& opt = image.Optional();
    if (opt.DescriptionModified()) AppendText(element, "description", opt.Description());
    if (opt.HeightModified()) AppendText(element, "height", std::to_string(opt.Height()));
    if (opt.WidthModified()) AppendText(element, "width", std::to_string(opt.Width()));
}

// Hours 1 to 23 first, then 0: the order aggregators have always seen.
void WriteSkipHours(xml::Node& channel, const TRSSChannelSkipHours& hours) {
    if (!hours.Any()) return;
    xml::Node element = channel.AppendElement("skipHours");
    for (int i = 1; i <= 24; ++i) {
        const int hour = i % 24;
        if (hours.Hour(hour)) AppendText(element, "hour", std::to_string(hour));
    }
}

void WriteSkipDays(xml::Node& channel, const TRSSChannelSkipDays& days) {
    if (!days.Any()) return;
    xml::Node element = channel.AppendElement("skipDays");
    for (int day = 0; day < TRSSChannelSkipDays::kDayCount; ++day) {
        if (days.Day(day)) AppendText(element, "day", TRSSChannelSkipDays::DayName(day));
    }
}

void WriteTextInput(xml::Node& channel, const TRSSTextInput& input) {
    xml::Node element = channel.AppendElement("textInput");
    AppendText(element, "title", input.Title());
    AppendText(element, "description", input.Description());
    AppendText(element, "name", input.TextInputName());
    AppendText(element, "link", input.Link());
}

void WriteItem(xml::Node& channel, const TRSSItem& item) {
    xml::Node element = channel.AppendElement("item");
    if (item.TitleModified()) AppendText(element, "title", item.Title());
    if (item.LinkModified()) AppendText(element, "link", item.Link());
    if (item.DescriptionModified()) AppendText(element, "description", item.Description());
    // The full body beside the excerpt, where RSS readers look for it.
    if (HasStorableText(item.Content())) AppendText(element, "content:encoded", item.Content());
    if (item.AuthorModified()) AppendText(element, "author", item.Author().Name);
    for (int i = 0; i < item.Categories().Count(); ++i) {
        const TRSSItemCategory& category = item.Categories()[i];
        xml::Node node = element.AppendElement("category");
        node.SetText(category.Title());
        if (category.DomainModified()) node.SetAttribute("domain", category.Domain());
    }
    if (item.CommentsModified()) AppendText(element, "comments", item.Comments());
    if (item.Enclosure().Include()) {
        xml::Node node = element.AppendElement("enclosure");
        node.SetAttribute("url", item.Enclosure().URL());
        node.SetAttribute("length", std::to_string(item.Enclosure().Length()));
        node.SetAttribute("type", item.Enclosure().EnclosureType());
    }
    if (item.GUID().Include()) {
        xml::Node node = element.AppendElement("guid");
        node.SetText(item.GUID().GUID());
        node.SetAttribute("isPermaLink", item.GUID().IsPermaLink() ? "true" : "false");
    }
    AppendDate(element, "pubDate", item.PubDate());
    if (item.Source().Include()) {
        xml::Node node = element.AppendElement("source");
        node.SetText(item.Source().Title());
        node.SetAttribute("url", item.Source().URL());
    }
}

void WriteChannel(xml::Node& channel, const TRSSChannel& model, const TRSSItems& items) {
    const TRSSChannelReq& req = model.Required();
    const TRSSChannelOpt& opt = model.Optional();
    AppendText(channel, "title", req.Title());
    AppendText(channel, "link", req.Link());
    AppendText(channel, "description", req.Desc());
    AppendText(channel, "language", opt.Language() == langX ? opt.XLang() : LanguageCode(opt.Language()));
    if (opt.CopyrightModified()) AppendText(channel, "copyright", opt.Copyright());
    if (opt.ManagingEditorModified()) AppendText(channel, "managingEditor", opt.ManagingEditor());
    if (opt.WebMasterModified()) AppendText(channel, "webMaster", opt.WebMaster());
    AppendDate(channel, "pubDate", opt.PubDate());
    AppendDate(channel, "lastBuildDate", opt.LastBuildDate());
    for (int i = 0; i < opt.Categories().Count(); ++i) {
        const TRSSChannelCategory& category = opt.Categories()[i];
        xml::Node node = channel.AppendElement("category");
        node.SetText(category.Category());
        if (category.DomainModified()) node.SetAttribute("domain", category.Domain());
    }
    AppendText(channel, "docs", opt.Docs());
    if (opt.Cloud().Include()) WriteCloud(channel, opt.Cloud());
    if (opt.TTLModified()) AppendText(channel, "ttl", std::to_string(opt.TTL()));
    if (opt.Image().Include()) WriteImage(channel, opt.Image());
    WriteSkipHours(channel, opt.SkipHours());
    WriteSkipDays(channel, opt.SkipDays());
    if (opt.TextInput().Include()) WriteTextInput(channel, opt.TextInput());
    if (opt.GeneratorModified()) AppendText(channel, "generator", opt.Generator());
    if (opt.RatingModified()) AppendText(channel, "rating", opt.Rating());
    // Items with neither title nor description carry nothing a reader could
    // show, and are left out.
    for (int i = 0; i < items.Count(); ++i) {
        const TRSSItem& item = items[i];
        if (item.TitleModified() || item.DescriptionModified()) WriteItem(channel, item);
    }
}

}  // namespace

void TFeedDocument::GenerateXML() {
    ResetXMLFile();
    xml::Document& doc = *FXMLFile;
    doc.AppendProcessingInstruction("xml", "version=\"1.0\"");
    if (!FXSLFileName.empty())
        doc.AppendProcessingInstruction("xml-stylesheet", "type=\"text/xsl\" href=\"" + FXSLFileName + "\"");
    xml::Node rss = doc.CreateDocumentElement("rss");
    rss.SetAttribute("version", FVersion);
    // Declared only where an item uses it, so copies of feeds without full
    // bodies stay exactly as they were.
    for (int i = 0; i < FItems->Count(); ++i) {
        if (HasStorableText((*FItems)[i].Content())) {
            rss.SetAttribute("xmlns:content", kContentNamespace);
            break;
        }
    }
    rss.AppendComment(std::string("RSS Generated by Quillet Feed Library version 0.3 ") + kLibraryHomePage);
    rss.AppendComment(
        "The Quillet Feed Library is published under the Creative Commons "
        "Attribution/Share Alike 1.0 licence");
    rss.AppendComment(kLicenceAddress);
    xml::Node channel = rss.AppendElement("channel");
    WriteChannel(channel, *FChannel, *FItems);
}

}  // namespace feed
