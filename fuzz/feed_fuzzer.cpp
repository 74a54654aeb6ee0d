// Feeds from anyone, then the stored copy: any input either fails to load
// with one of the library's own errors, or loads, saves, and reloads with
// the same channel title, item titles, bodies and dates. A crash, a sanitizer report, an
// unexpected exception or a failed reload is a finding.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "Convert.h"
#include "FeedDocument.h"
#include "FeedUtils.h"

namespace {

[[noreturn]] void Finding(const char* what, const std::string& detail) {
    std::fprintf(stderr, "feed_fuzzer: %s: %s\n", what, detail.c_str());
    std::abort();
}

// One file per fuzzing process, in memory where the system offers it.
const std::string& StoredCopyPath() {
    static const std::string path = [] {
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        return std::string(dir) + "/feed_fuzzer_" + std::to_string(getpid()) + ".xml";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    feed::TFeedDocument doc;
    try {
        doc.LoadFromString(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const xml::XmlError&) {
        return 0;
    } catch (const feed::TFeedException&) {
        return 0;
    } catch (const plat::ConvertError&) {
        return 0;
    }
    doc.SetXSLFileName("../rss.xsl");
    doc.SaveToFile(StoredCopyPath());

    feed::TFeedDocument copy;
    try {
        copy.LoadFromFile(StoredCopyPath());
    } catch (const std::exception& e) {
        Finding("stored copy does not reload", e.what());
    }
    const std::string title = feed::ComparableTitle(doc.Channel().Required().Title());
    if (copy.Channel().Required().Title() != title) Finding("channel title changed", title);
    int written = 0;
    for (int i = 0; i < doc.Items().Count(); ++i) {
        const feed::TRSSItem& item = doc.Items()[i];
        if (!item.TitleModified() && !item.DescriptionModified()) continue;
        if (written >= copy.Items().Count()) Finding("item lost", item.Title());
        const feed::TRSSItem& stored = copy.Items()[written];
        if (stored.Title() != feed::ComparableTitle(item.Title())) Finding("item title changed", item.Title());
        if (stored.Body() != feed::ComparableTitle(item.Body())) Finding("item body changed", item.Body());
        if (stored.PubDate().Modified() != item.PubDate().Modified() ||
            (item.PubDate().Modified() && stored.PubDate().UTC() != item.PubDate().UTC()))
            Finding("item date changed", item.PubDate().ToRFC822());
        ++written;
    }
    if (written != copy.Items().Count()) Finding("items added", std::to_string(copy.Items().Count()));
    return 0;
}
