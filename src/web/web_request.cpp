#include "web/web_request.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cstddef>

namespace pellory::web {

std::optional<uint64_t> ReadNumber(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    uint64_t n = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    return n;
}

std::optional<PageQuery> ReadPageQuery(const std::optional<std::string>& after,
                                       const std::optional<std::string>& before,
                                       const std::optional<std::string>& limit, std::string* why) {
    PageQuery q;
    struct Value {
        const char* name;
        const std::optional<std::string>& text;
        std::optional<uint64_t>* into;
    };
    std::optional<uint64_t> count;
    for (const Value& v :
         {Value{"after", after, &q.after}, Value{"before", before, &q.before}, Value{"limit", limit, &count}}) {
        if (!v.text) continue;
        *v.into = ReadNumber(*v.text);
        if (!*v.into) {
            if (why) *why = std::string(v.name) + " is not a number";
            return std::nullopt;
        }
    }
    if (q.after && q.before) {
        if (why) *why = "give after or before, not both";
        return std::nullopt;
    }
    if (count) {
        if (*count == 0 || *count > kMaxPageJobs) {
            if (why) *why = "limit is not a number from 1 to " + std::to_string(kMaxPageJobs);
            return std::nullopt;
        }
        q.limit = *count;
    }
    return q;
}

std::optional<vprinter::States> ReadStateChange(std::string_view body, vprinter::States current, std::string* why) {
    const auto fail = [why](std::string reason) -> std::optional<vprinter::States> {
        if (why) *why = std::move(reason);
        return std::nullopt;
    };
    QJsonParseError error{};
    const QJsonDocument doc =
        QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
    if (error.error != QJsonParseError::NoError)
        return fail("the body is not JSON: " + error.errorString().toStdString());
    if (!doc.isObject()) return fail("the body is not a JSON object");
    vprinter::States states = current;
    const QJsonObject object = doc.object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QByteArray name = it.key().toUtf8();
        const std::optional<vprinter::StateBit> bit =
            vprinter::StateByName(std::string_view(name.constData(), static_cast<size_t>(name.size())));
        if (!bit) return fail("\"" + name.toStdString() + "\" is not a state");
        if (!it.value().isBool()) return fail("\"" + name.toStdString() + "\" is not true or false");
        states = it.value().toBool() ? (states | *bit) : (states & static_cast<vprinter::States>(~*bit));
    }
    return states;
}

bool IsJsonContentType(std::string_view contentType) {
    const std::string_view kJson = "application/json";
    if (contentType.size() < kJson.size()) return false;
    for (size_t i = 0; i < kJson.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(contentType[i])) != kJson[i]) return false;
    }
    const std::string_view rest = contentType.substr(kJson.size());
    return rest.empty() || rest.front() == ';' || rest.front() == ' ';
}

bool QueryNamesKnown(const std::vector<std::string>& names, const std::vector<std::string_view>& known,
                     std::string* why) {
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        std::string problem;
        if (std::find(known.begin(), known.end(), name) == known.end()) {
            problem = "unknown query parameter \"" + name + "\"";
        } else if (std::find(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i), name) !=
                   names.begin() + static_cast<std::ptrdiff_t>(i)) {
            problem = "\"" + name + "\" is given twice";
        }
        if (problem.empty()) continue;
        if (why) *why = problem;
        return false;
    }
    return true;
}

bool IsOwnOrigin(const std::optional<std::string>& origin, std::string_view host) {
    if (!origin) return true;
    return !host.empty() && *origin == "http://" + std::string(host);
}

}  // namespace pellory::web
