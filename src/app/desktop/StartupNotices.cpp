#include "StartupNotices.h"

#include <cstdio>
#include <exception>

#include "Format.h"
#include "uvxLanguage.h"

namespace startup {

namespace {

// The English text stands in when a language file predates the message.
QString Translated(const char* name, const std::vector<plat::FormatArg>& args, const char* english) {
    try {
        const QString text = LangFmtQ(name, args);
        if (!text.isEmpty()) return text;
    } catch (const std::exception&) {
    }
    try {
        return QString::fromStdString(plat::Format(english, args));
    } catch (const std::exception&) {
        return QString::fromUtf8(english);
    }
}

}  // namespace

QStringList NoticeTexts(const plat::THomeChoice& Home, const QString& ChannelProblem) {
    QStringList texts;
    const std::string home = Home.Folder.string();
    for (const plat::THomeNotice& notice : Home.Notices) {
        const std::string folder = notice.Folder.string();
        switch (notice.Kind) {
            case plat::THomeNotice::PassedOver:
                texts << Translated("HomePassedOver", {folder, home},
                                    "%s was passed over as Quillet's folder because other users can change the files "
                                    "in it; Quillet uses %s.");
                break;
            case plat::THomeNotice::OpenToOthers:
                texts << Translated("HomeOpenToOthers", {folder},
                                    "Quillet uses %s as you asked, but other users can change the files in it.");
                break;
            case plat::THomeNotice::NotRefreshed:
                texts << Translated("ShippedFilesNotRefreshed", {folder, notice.Detail},
                                    "Quillet's own files in %s could not be brought up to date (%s); the previous "
                                    "copies are used.");
                break;
        }
    }
    if (!ChannelProblem.isEmpty())
        texts << Translated("InstanceChannelFailed", {ChannelProblem.toStdString()},
                            "A second start of Quillet cannot reach this window (%s).");
    return texts;
}

void LogHomeNotices(const plat::THomeChoice& Home) {
    for (const plat::THomeNotice& notice : Home.Notices) {
        const char* what = notice.Kind == plat::THomeNotice::PassedOver     ? "passed over"
                           : notice.Kind == plat::THomeNotice::OpenToOthers ? "used, but not private"
                                                                            : "shipped files not refreshed";
        std::fprintf(stderr, "quillet: %s: %s (%s)\n", notice.Folder.c_str(), what, notice.Detail.c_str());
    }
}

}  // namespace startup
