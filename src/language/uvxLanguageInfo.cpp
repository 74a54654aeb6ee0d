#include "uvxLanguageInfo.h"

#include <QLocale>

#include <cstdio>

#include "Convert.h"
#include "LocaleTable.h"
#include "QtLocale.h"
#include "uvxLanguage.h"

namespace {

// The locale API fills a buffer of 255 characters, the terminating zero
// included; menus and stored texts never saw anything longer.
constexpr qsizetype kLocaleTextLimit = 254;

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

std::string TvxLanguageInfo::GetFolder() const {
    return FCollection->Folder() + (FFolderName.empty() ? FolderName(FLcid) : FFolderName) + "/";
}

std::string TvxLanguageInfo::GetLanguageFile() const { return GetFolder() + "language.xml"; }

QString TvxLanguageInfo::GetLocaleText(int kind) const {
    QString text;
    switch (kind) {
        case kLocaleNativeLanguageName:
            text = plat::NativeLanguageName(FLcid);
            break;
        case kLocaleLanguageName:
        case kLocaleEnglishLanguageName: {
            const std::string name = plat::LocaleNameFromLCID(FLcid);
            if (name.empty()) return QString::fromStdString(FolderName(FLcid));
            QString qtName = QString::fromStdString(name);
            qtName.replace(QLatin1Char('-'), QLatin1Char('_'));
            text = QLocale::languageToString(QLocale(qtName).language());
            break;
        }
        default:
            return {};
    }
    return text.left(kLocaleTextLimit);
}

void TvxLanguageInfo::ParseFolderName(std::string_view name) {
    const std::optional<std::uint32_t> lcid = TryParseFolderName(name);
    if (!lcid) throw plat::ConvertError("'$" + std::string(name) + "' is not a valid integer value");
    FLcid = *lcid;
    FFolderName = std::string(name);
}

std::optional<std::uint32_t> TvxLanguageInfo::TryParseFolderName(std::string_view name) {
    if (name.empty() || name.size() > 8) return std::nullopt;
    std::uint32_t value = 0;
    for (const char c : name) {
        if (!IsHexDigit(c)) return std::nullopt;
        const int digit = c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
        value = value * 16 + static_cast<std::uint32_t>(digit);
    }
    return value;
}

std::string TvxLanguageInfo::FolderName(std::uint32_t lcid) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04X", static_cast<unsigned>(lcid));
    return buffer;
}
