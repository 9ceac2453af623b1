// What the tests of the job recorder and of "pellory-cli serve" share: finished jobs made up from
// bytes, the receipt streams of ../shared/escpos-corpus/ (read where they lie: the including test
// defines PELLORY_ESCPOS_CORPUS), and a job folder read back: its files, its record parsed by Qt's
// JSON reader (the including test links Qt Core), the height of a PNG.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/scratch_folder.h"
#include "vprinter/printer_server.h"

namespace pellory::test {

inline vprinter::FinishedJob MadeUpJob(uint64_t number, const std::string& bytes,
                                       std::string source = "tcp:127.0.0.1:50000") {
    vprinter::FinishedJob job;
    job.number = number;
    job.started = std::chrono::system_clock::now();
    job.ended = job.started + std::chrono::milliseconds(1234);
    job.source = std::move(source);
    job.bytes.assign(bytes.begin(), bytes.end());
    job.receivedBytes = job.bytes.size();
    return job;
}

#ifdef PELLORY_ESCPOS_CORPUS
// Every stream of the corpus (*.bin), sorted by path.
inline std::vector<std::filesystem::path> CorpusStreams() {
    std::vector<std::filesystem::path> all;
    const std::filesystem::path root(PELLORY_ESCPOS_CORPUS);
    std::error_code ec;
    for (std::filesystem::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".bin") all.push_back(it->path());
    }
    std::sort(all.begin(), all.end());
    return all;
}
#endif

// One job folder as written.
struct JobFolder {
    std::filesystem::path path;

    std::string Read(const std::string& name) const { return ReadWholeFile((path / name).string()); }
    // The names of the files in it, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (std::filesystem::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
            names.push_back(it->path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    // receipt-01.png, receipt-02.png, ... as found.
    std::vector<std::string> Receipts() const {
        std::vector<std::string> r;
        for (const std::string& n : Names()) {
            if (n.rfind("receipt-", 0) == 0) r.push_back(n);
        }
        return r;
    }
    // job.json by Qt's reader; an empty object (and a failure) when it is not one JSON object.
    QJsonObject Record() const {
        const std::string text = Read("job.json");
        QJsonParseError error{};
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray(text.data(), static_cast<qsizetype>(text.size())), &error);
        EXPECT_TRUE(doc.isObject()) << path << "/job.json: " << error.errorString().toStdString() << ": " << text;
        return doc.object();
    }
};

inline std::string Text(const QJsonObject& o, const char* key) {
    return o.value(QString::fromLatin1(key)).toString().toStdString();
}
inline int64_t Number(const QJsonObject& o, const char* key) {
    return static_cast<int64_t>(o.value(QString::fromLatin1(key)).toDouble(-1));
}

// The width and height of a PNG from its header; -1 when it is not a PNG.
inline int64_t PngHeaderNumber(const std::string& png, size_t at) {
    if (png.size() < 24 || png.compare(1, 3, "PNG") != 0) return -1;
    int64_t v = 0;
    for (size_t i = at; i < at + 4; ++i) v = (v << 8) | static_cast<uint8_t>(png[i]);
    return v;
}
inline int64_t PngWidth(const std::string& png) { return PngHeaderNumber(png, 16); }
inline int64_t PngHeight(const std::string& png) { return PngHeaderNumber(png, 20); }

// An ISO 8601 UTC time with milliseconds: "2026-12-07T20:57:29.123Z".
inline bool IsIsoMillisecondsUtc(const std::string& t) {
    static const std::string kShape = "dddd-dd-ddTdd:dd:dd.dddZ";
    if (t.size() != kShape.size()) return false;
    for (size_t i = 0; i < t.size(); ++i) {
        if (kShape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(t[i])) : t[i] != kShape[i]) return false;
    }
    return true;
}

}  // namespace pellory::test
