#pragma once
// The JSON report of a fleet push: per terminal its address, outcome, the exit
// code a single unattended run would have ended with, bytes and seconds, its
// tries with the outcome of each and, with a package check, what its record said.
#include "engine/fleetpush.h"
#include "engine/pushsession.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

namespace tk::push {

struct ReportInput {
    QString file;
    qint64 size = 0;
    quint16 port = 5142;
    bool cancelled = false;                  // the run was stopped by a signal
    std::vector<engine::PushResult> results; // in the order the terminals were given
    // Per terminal, in the same order (may be shorter: no tries, not asked).
    std::vector<std::vector<engine::Outcome>> attempts;
    std::vector<engine::RecordCheck> records;
    QString package; // the --package asked for; empty: none
};

QByteArray reportJson(const ReportInput& input);

// Writes the report to path through a temporary file renamed into place, so
// a half-written report never stands under that name; "-" writes it to
// standard output. Returns a message when it could not be written.
std::optional<QString> writeReport(const QString& path, const QByteArray& json);

} // namespace tk::push
