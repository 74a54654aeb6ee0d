// One installed language: a folder under languages/ named after its Windows
// locale identifier in hexadecimal ("0409" is 1033, English US).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <QString>

class TvxLanguage;

class TvxLanguageInfo {
public:
    // Locale information kinds understood by GetLocaleText, numbered as the
    // Windows locale API numbers them so stored values keep their meaning.
    // kLocaleLanguageName asks for the name in the user's own language;
    // Qt offers English names only, so it gives the English name.
    static constexpr int kLocaleLanguageName = 2;
    static constexpr int kLocaleNativeLanguageName = 4;  // the language's own name
    static constexpr int kLocaleEnglishLanguageName = 0x1001;

    TvxLanguageInfo(const TvxLanguage& collection, int index, std::uint32_t lcid = 0)
        : FCollection(&collection), FIndex(index), FLcid(lcid) {}

    std::uint32_t LCID() const { return FLcid; }
    void SetLCID(std::uint32_t lcid) {
        FLcid = lcid;
        FFolderName.clear();
    }
    // Position in the catalogue, in scan order; also the data of its menu
    // entry.
    int Index() const { return FIndex; }

    // The catalogue's folder followed by the identifier as at least four
    // upper-case hexadecimal digits and "/": 1033 gives "languages/0409/".
    // A language found by a scan keeps the folder name as it was found
    // ("040c"), so it loads on file systems that tell letter case apart.
    std::string GetFolder() const;
    // GetFolder() + "language.xml".
    std::string GetLanguageFile() const;

    // The locale information of that kind for this language: kind 4 is the
    // native language name ("Deutsch") a language menu shows. An unknown
    // kind gives an empty text.
    QString GetLocaleText(int kind) const;

    // Sets the identifier from a folder name read as hexadecimal ("0407")
    // and remembers the name as this language's folder.
    // Raises plat::ConvertError for a name that is not a hexadecimal number
    // of one to eight digits.
    void ParseFolderName(std::string_view name);
    // The same test without raising: the identifier, or nothing.
    static std::optional<std::uint32_t> TryParseFolderName(std::string_view name);

    // "0409" for 1033: the folder name of an identifier.
    static std::string FolderName(std::uint32_t lcid);

private:
    const TvxLanguage* FCollection;
    int FIndex;
    std::uint32_t FLcid;
    std::string FFolderName;  // as scanned; empty: derived from FLcid
};
