// Writes the posting histories polling_sim replays: one line per source,
// "<label>\t<kind>\t<unix seconds> <unix seconds> ...", times ascending.
//
//   extract_histories feed FILE...        item dates of feeds, read by feedlib
//   extract_histories changelog FILE...   upload dates of Debian changelogs
//
// Only the dates leave this tool: no titles, texts or addresses. A source
// with fewer than three distinct dates says nothing about a rhythm and is
// left out.
#include "FeedDocument.h"
#include "FeedTypes.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

long long UnixSeconds(plat::TDateTime utc) { return std::llround((utc - 25569.0) * 86400.0); }

// "Big5/blog.worren.net.xml" from ".../tests/Big5/blog.worren.net.xml".
std::string Label(const std::filesystem::path& path) {
    return path.parent_path().filename().string() + "/" + path.filename().string();
}

std::vector<long long> FeedDates(const std::string& file) {
    feed::TFeedDocument doc;
    doc.LoadFromFile(file);
    std::vector<long long> dates;
    for (int i = 0; i < doc.Items().Count(); ++i) {
        const feed::TRFC822DateTime& date = doc.Items()[i].PubDate();
        if (date.Modified()) dates.push_back(UnixSeconds(date.UTC()));
    }
    return dates;
}

std::string ReadGzip(const std::string& file) {
    std::string text;
    if (gzFile in = gzopen(file.c_str(), "rb")) {
        char buffer[65536];
        int read = 0;
        while ((read = gzread(in, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(read));
        gzclose(in);
    }
    return text;
}

// The trailer line of each entry: " -- Name <mail>  Mon, 01 Jan 2024 10:00:00 +0100".
std::vector<long long> ChangelogDates(const std::string& file) {
    const std::string text = ReadGzip(file);
    std::vector<long long> dates;
    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(begin, end - begin);
        begin = end + 1;
        if (line.rfind(" -- ", 0) != 0) continue;
        const std::size_t mail = line.find(">  ");
        if (mail == std::string::npos) continue;
        feed::TRFC822DateTime date;
        date.ParseRFC822(line.substr(mail + 3));
        if (date.Modified()) dates.push_back(UnixSeconds(date.UTC()));
    }
    return dates;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: extract_histories feed|changelog FILE...\n";
        return 2;
    }
    const std::string kind = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::vector<long long> dates;
        try {
            dates = kind == "feed" ? FeedDates(argv[i]) : ChangelogDates(argv[i]);
        } catch (const std::exception& e) {
            std::cerr << argv[i] << ": " << e.what() << "\n";
            continue;
        }
        std::sort(dates.begin(), dates.end());
        dates.erase(std::unique(dates.begin(), dates.end()), dates.end());
        if (dates.size() < 3) continue;
        const std::filesystem::path path(argv[i]);
        std::cout << (kind == "feed" ? Label(path) : path.parent_path().filename().string()) << '\t' << kind << '\t';
        for (std::size_t d = 0; d < dates.size(); ++d) std::cout << (d ? " " : "") << dates[d];
        std::cout << '\n';
    }
    return 0;
}
