#include "InstanceRequests.h"

#include <QTimer>

#include <exception>

#include "AccountController.h"
#include "ConfigCommands.h"
#include "FeedListController.h"
#include "ReadStateController.h"
#include "StarredExportCommand.h"
#include "UpdateController.h"
#include "fMain.h"

QString AnswerInstanceRequest(TFormMain& form, const QByteArray& verb, const QString& argument) {
    if (verb == "add") {
        if (argument.isEmpty()) return QStringLiteral("error no address");
        form.Actions().ShowQuillet->trigger();
        form.raise();
        form.activateWindow();
        // The dialog is modal: it opens after this answer has gone.
        QTimer::singleShot(0, &form, [&form, argument] { form.TakeAddressOrFile(argument); });
        return QStringLiteral("ok");
    }
    if (verb == "import-opml" || verb == "export-opml") {
        try {
            if (verb == "export-opml") {
                form.Feeds().ExportOPML(argument.toStdString());
                return QStringLiteral("ok feeds exported to ") + argument;
            }
            const TImportResult result =
                form.Updates().FetchAddedBy([&] { return form.Feeds().ImportOPML(argument.toStdString()); });
            return QStringLiteral("ok ") + QString::fromStdString(configcmd::DescribeImport(
                                               result.added, result.skipped, result.refused, result.flattened));
        } catch (const std::exception& error) {
            return QStringLiteral("error ") + QString::fromUtf8(error.what());
        }
    }
    if (verb == "export-starred") {
        try {
            return QStringLiteral("ok ") + QString::fromStdString(ExportStarredItems(
                                               form.Items().Store(), form.FeedList(), argument.toStdString()));
        } catch (const std::exception& error) {
            return QStringLiteral("error ") + QString::fromUtf8(error.what());
        }
    }
    if (verb == "add-account") {
        try {
            return form.Accounts().TakeAccountRequest(argument);
        } catch (const std::exception& error) {
            return QStringLiteral("error ") + QString::fromUtf8(error.what());
        }
    }
    return QStringLiteral("unknown");
}
