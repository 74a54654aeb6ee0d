#include "ConfigSaver.h"

#include <exception>
#include <filesystem>

#include "XmlDom.h"

TConfigSaver::TConfigSaver(std::function<xml::Document*()> document, QObject* parent)
    : QObject(parent), FDocument(std::move(document)) {
    FTimer.setSingleShot(true);
    FTimer.setInterval(kDefaultDelay);
    connect(&FTimer, &QTimer::timeout, this, [this] { SaveNow(); });
}

void TConfigSaver::SetDelay(std::chrono::milliseconds delay) { FTimer.setInterval(delay); }

std::chrono::milliseconds TConfigSaver::Delay() const { return FTimer.intervalAsDuration(); }

void TConfigSaver::Schedule() {
    // A save already due takes this change along.
    if (!FTimer.isActive()) FTimer.start();
}

bool TConfigSaver::SaveNow() {
    FTimer.stop();
    xml::Document* document = FDocument ? FDocument() : nullptr;
    // A document that must not be written back (a start that failed half
    // way, a file that did not load) is left alone.
    if (!document || !document->AutoSave() || !document->Modified() || document->FileName().empty()) return true;
    try {
        document->Save();
        FFailing = false;
        return true;
    } catch (const std::exception& error) {
        const bool first = !FFailing;
        FFailing = true;
        std::error_code ec;
        std::filesystem::path file = std::filesystem::absolute(document->FileName(), ec);
        if (ec) file = document->FileName();
        if (OnFailure) OnFailure(file.string(), error.what(), first);
        return false;
    }
}
