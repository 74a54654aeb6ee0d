#include "FeedParserBase.h"

#include "Convert.h"
#include "FeedUtils.h"
#include "Text.h"

#include <vector>

namespace feed {

namespace {

using plat::EqualsNoCase;

struct ModuleName {
    TModuleElement element;
    const char* namespaceURI;
    const char* localName;
    // The name feeds give it: also matched when the prefix was never
    // declared, which leaves the element in no namespace.
    const char* usualName;
};

constexpr ModuleName kModuleNames[] = {
    {TModuleElement::ContentEncoded, kContentNamespace, "encoded", "content:encoded"},
    {TModuleElement::DCCreator, kDublinCoreNamespace, "creator", "dc:creator"},
    {TModuleElement::DCDate, kDublinCoreNamespace, "date", "dc:date"},
    {TModuleElement::MediaContent, kMediaNamespace, "content", "media:content"},
    {TModuleElement::MediaThumbnail, kMediaNamespace, "thumbnail", "media:thumbnail"},
    {TModuleElement::MediaGroup, kMediaNamespace, "group", "media:group"},
    {TModuleElement::MediaDescription, kMediaNamespace, "description", "media:description"},
};

// Media RSS's namespace is written with and without its final slash.
bool SameModuleNamespace(std::string_view actual, std::string_view expected) {
    if (EqualsNoCase(actual, expected)) return true;
    return !expected.empty() && expected.back() == '/' && EqualsNoCase(actual, expected.substr(0, expected.size() - 1));
}

}  // namespace

TChildLookup::TChildLookup(const xml::Node& parent) {
    const std::string_view parentNamespace = xml::NamespaceView(parent);
    FChildren.reserve(16);
    for (xml::Node child = parent.FirstChild(); child; child = child.NextSibling()) {
        if (child.Type() != xml::NodeType::Element) continue;
        const std::string_view prefix = xml::PrefixView(child);
        const std::string_view localName = xml::LocalNameView(child);
        const std::string_view childNamespace = xml::NamespaceView(child);
        if (localName == "category") {
            if (FCategories.empty()) FCategories.reserve(4);
            FCategories.push_back(child);
        }
        const bool sameNamespace =
            childNamespace.data() == parentNamespace.data() || EqualsNoCase(childNamespace, parentNamespace);
        // A prefix never declared leaves the colon in the local name.
        if (!prefix.empty() || !sameNamespace || localName.find(':') != std::string_view::npos)
            RememberModule(prefix, localName, childNamespace, child);
        // "Find" looks only at children in the parent's namespace.
        if (!parentNamespace.empty() && !sameNamespace) continue;
        if (localName == "link") {
            if (FLinks.empty()) FLinks.reserve(8);
            FLinks.push_back(child);
        }
        FChildren.push_back({prefix, localName, child});
    }
}

void TChildLookup::RememberModule(std::string_view prefix, std::string_view localName, std::string_view childNamespace,
                                  const xml::Node& child) {
    for (const ModuleName& module : kModuleNames) {
        xml::Node& slot = FModules[static_cast<std::size_t>(module.element)];
        if (slot) continue;
        const std::string_view usual = module.usualName;
        const auto colon = usual.find(':');
        const bool usualName =
            localName == usual || (prefix == usual.substr(0, colon) && localName == usual.substr(colon + 1));
        if (usualName || (localName == module.localName && SameModuleNamespace(childNamespace, module.namespaceURI)))
            slot = child;
    }
}

xml::Node TChildLookup::Find(std::string_view name) const {
    const auto colon = name.find(':');
    for (const TChild& child : FChildren) {
        if (child.local == name) return child.node;
        if (colon != std::string_view::npos && child.prefix == name.substr(0, colon) &&
            child.local == name.substr(colon + 1))
            return child.node;
    }
    return {};
}

xml::Node TChildLookup::FindPlain(std::string_view name) const {
    for (const TChild& child : FChildren) {
        if (child.prefix.empty() && child.local == name) return child.node;
    }
    return {};
}

xml::Node TChildLookup::DCDate() const { return Module(TModuleElement::DCDate); }

std::string TFeedParserBase::ElementName(const xml::Node& child) {
    return child.Type() == xml::NodeType::Element ? child.Name() : std::string();
}

std::string TFeedParserBase::ElementName(const xml::Node& child, std::string_view vocabulary) {
    if (child.Type() != xml::NodeType::Element) return {};
    if (!vocabulary.empty() && EqualsNoCase(xml::NamespaceView(child), vocabulary))
        return std::string(xml::LocalNameView(child));
    return child.Name();
}

std::string TFeedParserBase::PlainText(const xml::Node& element) {
    try {
        return element.Text();
    } catch (const xml::XmlError&) {
        return TextContent(element);
    }
}

std::string TFeedParserBase::BodyText(const xml::Node& element) {
    try {
        return element.Text();
    } catch (const xml::XmlError&) {
    }
    // Text and CDATA pieces side by side are one HTML text cut up; with
    // elements among them the body is inline markup.
    bool hasElements = false;
    for (xml::Node child = element.FirstChild(); child; child = child.NextSibling())
        if (child.Type() == xml::NodeType::Element) hasElements = true;
    return hasElements ? xml::ChildrenMarkup(element) : TextContent(element);
}

std::string TFeedParserBase::GetText(const xml::Node& parent, std::string_view name) {
    const xml::Node child = parent.FindChild(name);
    return child ? PlainText(child) : std::string();
}

std::string TFeedParserBase::GetAttribute(const xml::Node& element, std::string_view name) {
    return element.Attribute(name).value_or(std::string());
}

std::optional<int> TFeedParserBase::IntOf(std::string_view text) {
    text = plat::Trim(text, plat::Blanks::Xml);
    if (text.empty()) return std::nullopt;
    return plat::TryStrToInt(text);
}

std::optional<int> TFeedParserBase::IntOf(const xml::Node& element) { return IntOf(PlainText(element)); }

std::string TFeedParserBase::RequiredFieldMissing(std::string_view owner, std::string_view name) {
    return "Required Field Missing. Field: " + std::string(owner) + " -> " + std::string(name);
}

xml::Node TFeedParserBase::Require(const xml::Node& parent, std::string_view owner, std::string_view name) {
    const xml::Node child = parent.FindChild(name);
    if (!child) throw TFeedException(RequiredFieldMissing(owner, name));
    return child;
}

bool TFeedParserBase::ReadCommonChannelElement(const std::string& name, const xml::Node& child) {
    if (name == "language")
        ReadLanguage(child);
    else if (name == "ttl") {
        if (auto ttl = IntOf(child)) ChannelOpt().SetTTL(*ttl);
    } else if (name == "image")
        ReadImage(child);
    else if (name == "rating")
        ChannelOpt().SetRating(PlainText(child));
    else if (name == "textInput")
        ReadTextInput(child);
    else if (name == "skipHours")
        ReadSkipHours(child);
    else if (name == "skipDays")
        ReadSkipDays(child);
    else
        return false;
    return true;
}

bool TFeedParserBase::ReadRssChannelElement(const std::string& name, const xml::Node& child) {
    if (name == "title")
        ChannelReq().SetTitle(PlainText(child));
    else if (name == "link")
        ChannelReq().SetLink(PlainText(child));
    else if (name == "description")
        ChannelReq().SetDesc(BodyText(child));
    else if (name == "copyright")
        ChannelOpt().SetCopyright(PlainText(child));
    else if (name == "managingEditor")
        ChannelOpt().SetManagingEditor(PlainText(child));
    else if (name == "webMaster")
        ChannelOpt().SetWebMaster(PlainText(child));
    else if (name == "generator")
        ChannelOpt().SetGenerator(PlainText(child));
    else if (name == "docs")
        ChannelOpt().SetDocs(PlainText(child));
    else if (name == "pubDate")
        ChannelOpt().PubDate().ParseRFC822(PlainText(child));
    else if (name == "lastBuildDate")
        ChannelOpt().LastBuildDate().ParseRFC822(PlainText(child));
    else if (name == "cloud")
        ReadCloud(child);
    else
        return ReadCommonChannelElement(name, child);
    return true;
}

void TFeedParserBase::ReadLanguage(const xml::Node& element) { ReadLanguageCode(PlainText(element)); }

void TFeedParserBase::ReadLanguageCode(const std::string& code) {
    const TLanguages language = LanguageFromCode(code);
    ChannelOpt().SetLanguage(language);
    ChannelOpt().SetXLang(language == langX ? code : std::string());
}

void TFeedParserBase::ReadChannelCategory(const xml::Node& element) {
    TRSSChannelCategory& category = ChannelOpt().Categories().Add();
    category.SetCategory(PlainText(element));
    if (auto domain = element.Attribute("domain")) category.SetDomain(*domain);
}

// A cloud without a readable port cannot be registered with, and is left
// out rather than costing the feed.
void TFeedParserBase::ReadCloud(const xml::Node& element) {
    TRSSCloud& cloud = ChannelOpt().Cloud();
    const auto port = IntOf(GetAttribute(element, "port"));
    cloud.SetInclude(element.AttributeCount() > 0 && port.has_value());
    if (!cloud.Include()) return;
    cloud.SetDomain(GetAttribute(element, "domain"));
    cloud.SetPath(GetAttribute(element, "path"));
    cloud.SetRegisterProcedure(GetAttribute(element, "registerProcedure"));
    cloud.SetProtocol(GetAttribute(element, "protocol"));
    cloud.SetPort(*port);
}

// An image or text input missing one of its required children is left
// out; the rest of the feed is read as usual.
void TFeedParserBase::ReadImage(const xml::Node& element) {
    TRSSImage& image = ChannelOpt().Image();
    if (!element.HasChildNodes()) return;
    const xml::Node url = Find(element, "url");
    const xml::Node title = Find(element, "title");
    const xml::Node link = Find(element, "link");
    if (!url || !title || !link) return;
    image.SetInclude(true);
    image.Required().SetURL(PlainText(url));
    image.Required().SetTitle(PlainText(title));
    image.Required().SetLink(PlainText(link));
    if (auto description = Find(element, "description")) image.Optional().SetDescription(PlainText(description));
    if (auto width = Find(element, "width")) {
        if (auto value = IntOf(width)) image.Optional().SetWidth(*value);
    }
    if (auto height = Find(element, "height")) {
        if (auto value = IntOf(height)) image.Optional().SetHeight(*value);
    }
}

void TFeedParserBase::ReadTextInput(const xml::Node& element) {
    TRSSTextInput& input = ChannelOpt().TextInput();
    if (!element.HasChildNodes()) return;
    const xml::Node title = Find(element, "title");
    const xml::Node description = Find(element, "description");
    const xml::Node link = Find(element, "link");
    const xml::Node name = Find(element, "name");
    if (!title || !description || !link || !name) return;
    input.SetInclude(true);
    input.SetTitle(PlainText(title));
    input.SetDescription(PlainText(description));
    input.SetLink(PlainText(link));
    input.SetTextInputName(PlainText(name));
}

void TFeedParserBase::ReadSkipHours(const xml::Node& element) { feed::ReadSkipHours(element, RSS); }
void TFeedParserBase::ReadSkipDays(const xml::Node& element) { feed::ReadSkipDays(element, RSS); }

// A length that is missing or no number (podcasts write "", "0", "12 MB")
// is unknown, which RSS writes as 0.
void TFeedParserBase::ReadEnclosure(const xml::Node& element, TRSSItem& item) {
    TRSSItemEnclosure& enclosure = item.Enclosure();
    enclosure.SetURL(GetAttribute(element, "url"));
    enclosure.SetEnclosureType(GetAttribute(element, "type"));
    enclosure.SetLength(IntOf(GetAttribute(element, "length")).value_or(0));
    enclosure.SetInclude(true);
}

void TFeedParserBase::ReadMediaEnclosure(const xml::Node& element, TRSSItem& item) {
    const std::string url = GetAttribute(element, "url");
    if (url.empty()) return;
    TRSSItemEnclosure& enclosure = item.Enclosure();
    enclosure.SetURL(url);
    std::string type = GetAttribute(element, "type");
    // Without a type the medium says what it is ("image", "video").
    if (type.empty()) {
        const std::string medium = GetAttribute(element, "medium");
        if (!medium.empty())
            type = medium + "/*";
        else if (element.LocalName() == "thumbnail")
            type = "image/*";
    }
    enclosure.SetEnclosureType(type);
    const auto length = IntOf(GetAttribute(element, "fileSize"));
    enclosure.SetLength(length && *length > 0 ? *length : 0);
    enclosure.SetInclude(true);
}

xml::Node TFeedParserBase::ItemLink(const TChildLookup& children) {
    const xml::Node plain = children.FindPlain("link");
    return plain ? plain : children.Find("link");
}

std::string TFeedParserBase::LinkText(const xml::Node& link) {
    std::string text = PlainText(link);
    if (text.empty()) {
        if (auto href = link.Attribute("href")) return *href;
    }
    return text;
}

std::string TFeedParserBase::ResolveLink(const xml::Node& element, const std::string& reference) const {
    if (IsAbsoluteURL(reference)) return reference;
    // Bases nest: each xml:base is itself resolved against the one above.
    std::vector<std::string> bases;
    for (xml::Node node = element; node; node = node.Parent()) {
        if (auto base = node.Attribute("xml:base")) bases.push_back(std::move(*base));
    }
    std::string base = RSS.DocumentURL();
    for (auto it = bases.rbegin(); it != bases.rend(); ++it) base = base.empty() ? *it : ResolveURL(base, *it);
    if (!IsAbsoluteURL(base)) return reference;
    return ResolveURL(base, reference);
}

void TFeedParserBase::SetAuthorName(TRSSItem& item, const std::string& name) {
    item.Author().Name = name;
    if (!name.empty()) item.SetAuthorModified();
}

void TFeedParserBase::ReadItemModules(const TChildLookup& children, TRSSItem& item) {
    // The full body, kept beside the description it is longer than; an
    // item with no description already shows it as its description.
    if (auto n = children.Module(TModuleElement::ContentEncoded)) {
        std::string body = BodyText(n);
        if (!item.DescriptionModified())
            item.SetDescription(std::move(body));
        else if (body != item.Description())
            item.SetContent(std::move(body));
    }
    if (item.Author().Name.empty()) {
        if (auto n = children.Module(TModuleElement::DCCreator)) SetAuthorName(item, PlainText(n));
    }
    if (!item.Enclosure().Include()) {
        xml::Node media = children.Module(TModuleElement::MediaContent);
        xml::Node thumbnail = children.Module(TModuleElement::MediaThumbnail);
        if (const xml::Node group = children.Module(TModuleElement::MediaGroup); group && (!media || !thumbnail)) {
            const TChildLookup inGroup(group);
            if (!media) media = inGroup.Module(TModuleElement::MediaContent);
            if (!thumbnail) thumbnail = inGroup.Module(TModuleElement::MediaThumbnail);
            // A video's description is its body when the item has none.
            if (!item.DescriptionModified()) {
                if (auto n = inGroup.Module(TModuleElement::MediaDescription)) item.SetDescription(BodyText(n));
            }
        }
        if (media) ReadMediaEnclosure(media, item);
        if (!item.Enclosure().Include() && thumbnail) ReadMediaEnclosure(thumbnail, item);
    }
    if (!item.DescriptionModified()) {
        if (auto n = children.Module(TModuleElement::MediaDescription)) item.SetDescription(BodyText(n));
    }
}

void TFeedParserBase::ReadSource(const xml::Node& element, TRSSItem& item) {
    item.Source().SetInclude(true);
    item.Source().SetTitle(PlainText(element));
    item.Source().SetURL(GetAttribute(element, "url"));
}

void TFeedParserBase::ReadItemCategories(const TChildLookup& children, TRSSItem& item) {
    for (const xml::Node& child : children.Categories()) {
        TRSSItemCategory& category = item.Categories().Add();
        category.SetTitle(PlainText(child));
        if (auto domain = child.Attribute("domain")) category.SetDomain(*domain);
    }
}

}  // namespace feed
