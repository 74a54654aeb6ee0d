#include "FeedParserBase.h"

#include "Convert.h"
#include "FeedUtils.h"

namespace feed {

namespace {

// An empty value is Null to the conversion, as an empty element is.
int ToInt(const std::string& value) {
    if (value.empty()) throw plat::ConvertError("Could not convert variant of type (Null) into type (Integer)");
    return plat::StrToInt(value);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
    }
    return true;
}

}  // namespace

TChildLookup::TChildLookup(const xml::Node& parent) {
    const std::string parentNamespace = parent.NamespaceURI();
    FParentHasNamespace = !parentNamespace.empty();
    FFirst.reserve(16);
    for (xml::Node child = parent.FirstChild(); child; child = child.NextSibling()) {
        if (child.Type() != xml::NodeType::Element) continue;
        std::string name = child.Name();
        // Without a colon the qualified name is the local name.
        std::string localName = name.find(':') == std::string::npos ? name : child.LocalName();
        if (localName == "category") FCategories.push_back(child);
        if (FParentHasNamespace) {
            const std::string childNamespace = child.NamespaceURI();
            if (!FDublinCoreDate && localName == "date" && EqualsNoCase(childNamespace, kDublinCoreNamespace))
                FDublinCoreDate = child;
            // "Find" looks only at children in the parent's namespace.
            if (!EqualsNoCase(childNamespace, parentNamespace)) continue;
        }
        if (name != localName) Remember(std::move(name), child);
        Remember(std::move(localName), child);
    }
}

void TChildLookup::Remember(std::string name, const xml::Node& child) {
    for (const auto& entry : FFirst) {
        if (entry.first == name) return;
    }
    FFirst.emplace_back(std::move(name), child);
}

xml::Node TChildLookup::Find(std::string_view name) const {
    for (const auto& [key, node] : FFirst) {
        if (key == name) return node;
    }
    return {};
}

xml::Node TChildLookup::DCDate() const { return FParentHasNamespace ? FDublinCoreDate : Find("dc:date"); }

std::string TFeedParserBase::ElementName(const xml::Node& child) {
    return child.Type() == xml::NodeType::Element ? child.Name() : std::string();
}

std::string TFeedParserBase::GetText(const xml::Node& parent, std::string_view name) {
    const xml::Node child = parent.FindChild(name);
    return child ? child.Text() : std::string();
}

std::string TFeedParserBase::GetAttribute(const xml::Node& element, std::string_view name) {
    return element.Attribute(name).value_or(std::string());
}

int TFeedParserBase::IntOf(const xml::Node& element) { return ToInt(element.Text()); }

int TFeedParserBase::IntAttribute(const xml::Node& element, std::string_view name) {
    return ToInt(GetAttribute(element, name));
}

std::string TFeedParserBase::RequiredFieldMissing(std::string_view owner, std::string_view name) {
    return "Required Field Missing. Field: " + std::string(owner) + " -> " + std::string(name);
}

xml::Node TFeedParserBase::Require(const xml::Node& parent, std::string_view owner, std::string_view name) {
    const xml::Node child = parent.FindChild(name);
    if (!child) throw TFeedException(RequiredFieldMissing(owner, name));
    return child;
}

bool TFeedParserBase::ReadCommonChannelElement(const std::string& name, const xml::Node& child) {
    if (name == "language") ReadLanguage(child);
    else if (name == "ttl") ChannelOpt().SetTTL(IntOf(child));
    else if (name == "image") ReadImage(child);
    else if (name == "rating") ChannelOpt().SetRating(child.Text());
    else if (name == "textInput") ReadTextInput(child);
    else if (name == "skipHours") ReadSkipHours(child);
    else if (name == "skipDays") ReadSkipDays(child);
    else return false;
    return true;
}

bool TFeedParserBase::ReadRssChannelElement(const std::string& name, const xml::Node& child) {
    if (name == "title") ChannelReq().SetTitle(child.Text());
    else if (name == "link") ChannelReq().SetLink(child.Text());
    else if (name == "description") ChannelReq().SetDesc(child.Text());
    else if (name == "copyright") ChannelOpt().SetCopyright(child.Text());
    else if (name == "managingEditor") ChannelOpt().SetManagingEditor(child.Text());
    else if (name == "webMaster") ChannelOpt().SetWebMaster(child.Text());
    else if (name == "generator") ChannelOpt().SetGenerator(child.Text());
    else if (name == "docs") ChannelOpt().SetDocs(child.Text());
    else if (name == "pubDate") ChannelOpt().PubDate().ParseRFC822(child.Text());
    else if (name == "lastBuildDate") ChannelOpt().LastBuildDate().ParseRFC822(child.Text());
    else if (name == "cloud") ReadCloud(child);
    else return ReadCommonChannelElement(name, child);
    return true;
}

void TFeedParserBase::ReadLanguage(const xml::Node& element) {
    const std::string code = element.Text();
    const TLanguages language = LanguageFromCode(code);
    ChannelOpt().SetLanguage(language);
    ChannelOpt().SetXLang(language == langX ? code : std::string());
}

void TFeedParserBase::ReadChannelCategory(const xml::Node& element) {
    TRSSChannelCategory& category = ChannelOpt().Categories().Add();
    category.SetCategory(element.Text());
    if (auto domain = element.Attribute("domain")) category.SetDomain(*domain);
}

void TFeedParserBase::ReadCloud(const xml::Node& element) {
    TRSSCloud& cloud = ChannelOpt().Cloud();
    cloud.SetInclude(element.AttributeCount() > 0);
    if (!cloud.Include()) return;
    cloud.SetDomain(GetAttribute(element, "domain"));
    cloud.SetPath(GetAttribute(element, "path"));
    cloud.SetRegisterProcedure(GetAttribute(element, "registerProcedure"));
    cloud.SetProtocol(GetAttribute(element, "protocol"));
    cloud.SetPort(IntAttribute(element, "port"));
}

void TFeedParserBase::ReadImage(const xml::Node& element) {
    TRSSImage& image = ChannelOpt().Image();
    image.SetInclude(element.HasChildNodes());
    if (!image.Include()) return;
    image.Required().SetURL(Require(element, "image", "url").Text());
    image.Required().SetTitle(Require(element, "image", "title").Text());
    image.Required().SetLink(Require(element, "image", "link").Text());
    if (auto description = Find(element, "description")) image.Optional().SetDescription(description.Text());
    if (auto width = Find(element, "width")) image.Optional().SetWidth(IntOf(width));
    if (auto height = Find(element, "height")) image.Optional().SetHeight(IntOf(height));
}

void TFeedParserBase::ReadTextInput(const xml::Node& element) {
    TRSSTextInput& input = ChannelOpt().TextInput();
    input.SetInclude(element.HasChildNodes());
    if (!input.Include()) return;
    input.SetTitle(Require(element, "textInput", "title").Text());
    input.SetDescription(Require(element, "textInput", "description").Text());
    input.SetLink(Require(element, "textInput", "link").Text());
    input.SetTextInputName(Require(element, "textInput", "name").Text());
}

void TFeedParserBase::ReadSkipHours(const xml::Node& element) { feed::ReadSkipHours(element, RSS); }
void TFeedParserBase::ReadSkipDays(const xml::Node& element) { feed::ReadSkipDays(element, RSS); }

void TFeedParserBase::ReadEnclosure(const xml::Node& element, TRSSItem& item) {
    TRSSItemEnclosure& enclosure = item.Enclosure();
    enclosure.SetURL(GetAttribute(element, "url"));
    enclosure.SetEnclosureType(GetAttribute(element, "type"));
    enclosure.SetLength(IntAttribute(element, "length"));
    enclosure.SetInclude(true);
}

void TFeedParserBase::ReadSource(const xml::Node& element, TRSSItem& item) {
    item.Source().SetInclude(true);
    item.Source().SetTitle(element.Text());
    item.Source().SetURL(GetAttribute(element, "url"));
}

void TFeedParserBase::ReadItemCategories(const TChildLookup& children, TRSSItem& item) {
    for (const xml::Node& child : children.Categories()) {
        TRSSItemCategory& category = item.Categories().Add();
        category.SetTitle(child.Text());
        if (auto domain = child.Attribute("domain")) category.SetDomain(*domain);
    }
}

}  // namespace feed
