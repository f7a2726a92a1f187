// The users file of the web view as a hand may leave it: the users parsed, written out and
// parsed again are the same, and a password check never takes a wrong password.
#include <cstddef>
#include <cstdint>

#include <QRegularExpression>
#include <QSet>

#include "fuzz/FuzzCheck.h"
#include "web/WebUsers.h"

using namespace merival;

namespace {

// A print made with the lowest costs, of this password; the seeds hold it.
const QByteArray kKnownPrint =
    "$argon2id$v=19$m=8,t=1,p=1$CikF9ysuCzDhtIeLE/gXpw$8hmgbhfy3ztAV4SHtAV+VQIYoIQJvTVHj3lSWvEOzvQ";
const QByteArray kKnownPassword = "bon-mot-de-passe";

// The costs are in the print: only prints that cost little are checked (the program's own cost
// 64 MB each).
bool Cheap(const QByteArray& hash) {
    static const QRegularExpression costs(
        QStringLiteral(R"(^\$argon2id\$v=19\$m=(\d{1,4}),t=(\d),p=(\d)\$)"));
    const QRegularExpressionMatch m = costs.match(QString::fromLatin1(hash));
    return m.hasMatch() && m.captured(1).toInt() <= 256;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    int skipped = 0;
    const QList<WebUser> users = ParseWebUsers(text, &skipped);
    QSet<QString> names;
    for (const WebUser& u : users) {
        FUZZ_CHECK(ValidUserName(u.name), "a user with a name that is not valid");
        FUZZ_CHECK(!names.contains(u.name), "a user given twice");
        names.insert(u.name);
        FUZZ_CHECK(!u.hash.contains('\n') && !u.hash.contains(':'), "a print spans fields");
    }
    FUZZ_CHECK(users.size() + skipped <= text.count('\n') + 1, "more users than lines");

    int skippedAgain = -1;
    const QList<WebUser> again = ParseWebUsers(WebUsersText(users), &skippedAgain);
    FUZZ_CHECK(again == users, "users parsed, written and parsed again differ");
    FUZZ_CHECK(skippedAgain == 0, "a line written is skipped when read again");

    // A few checks per input, on prints that cost little: the fuzzer cannot make a print of
    // a password it does not know, so anything accepted but the known pair is a fault.
    int checks = 0;
    for (const WebUser& u : users) {
        if (!Cheap(u.hash) || ++checks > 3) {
            continue;
        }
        FUZZ_CHECK(!PasswordMatches(u.hash, u.name.toUtf8()), "the name taken as password");
        FUZZ_CHECK(!PasswordMatches(u.hash, {}), "an empty password taken");
        FUZZ_CHECK(!PasswordMatches(u.hash, kKnownPassword + 'x'), "a longer password taken");
        FUZZ_CHECK(!PasswordMatches(u.hash, kKnownPassword.chopped(1)), "a shorter password taken");
        if (u.hash == kKnownPrint) {
            FUZZ_CHECK(PasswordMatches(u.hash, kKnownPassword), "the right password refused");
        }
    }
    return 0;
}
