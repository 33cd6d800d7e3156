#include "OperatorCommands.h"

#include <ctime>
#include <iostream>
#include <termios.h>
#include <unistd.h>

#include "ConsoleQueries.h"
#include "ConsoleSecrets.h"
#include "Records.h"
#include "TerminalText.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

constexpr size_t ShortestPassword = 8;
constexpr size_t LongestPassword = 1024;
constexpr size_t LongestName = 64;

int Fail(const std::string& problem, int status = 1)
{
    std::cerr << "kelvora-service: " << problem << "\n";
    return status;
}

// Printable characters only, no spaces: the name is typed at the login form
// and shown in lists.
bool IsUsableName(const std::string& name)
{
    if (name.empty() || name.size() > LongestName || !IsValidUtf8(name))
        return false;
    for (unsigned char c : name) {
        if (c <= ' ' || c == 0x7F)
            return false;
    }
    return true;
}

// Echo off while the password is typed, set back however the read ends.
class HiddenInput {
public:
    HiddenInput()
    {
        if (tcgetattr(STDIN_FILENO, &saved_) == 0) {
            termios quiet = saved_;
            quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
        }
    }
    ~HiddenInput()
    {
        if (active_)
            tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    HiddenInput(const HiddenInput&) = delete;
    HiddenInput& operator=(const HiddenInput&) = delete;

private:
    termios saved_{};
    bool active_ = false;
};

bool ReadLine(std::string& line)
{
    if (!std::getline(std::cin, line))
        return false;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

// From the terminal without echo, typed twice; from a pipe, its first line.
bool ReadPassword(const std::string& name, std::string& password, std::string& problem)
{
    if (isatty(STDIN_FILENO)) {
        std::string again;
        {
            HiddenInput hidden;
            std::cerr << "password for " << EscapeForTerminal(name) << ": " << std::flush;
            bool read = ReadLine(password);
            std::cerr << "\nagain: " << std::flush;
            read = read && ReadLine(again);
            std::cerr << "\n";
            if (!read) {
                problem = "no password given";
                return false;
            }
        }
        if (password != again) {
            problem = "the passwords differ";
            return false;
        }
    } else if (!ReadLine(password)) {
        problem = "no password on standard input";
        return false;
    }
    if (password.size() < ShortestPassword) {
        problem = "the password must have at least 8 characters";
        return false;
    }
    if (password.size() > LongestPassword || !IsValidUtf8(password)) {
        problem = "the password must be UTF-8 text of at most 1024 bytes";
        return false;
    }
    return true;
}

} // namespace

int RunOperatorCommand(const std::string& database, const std::vector<std::string>& words)
{
    const std::string usage = "usage: kelvora-service operator add|remove NAME, or operator list [--db FILE]";
    if (words.empty())
        return Fail(usage, 2);
    const std::string& action = words[0];
    if (action == "list") {
        if (words.size() != 1)
            return Fail(usage, 2);
    } else if (action == "add" || action == "remove") {
        if (words.size() != 2)
            return Fail(usage, 2);
        if (!IsUsableName(words[1])) {
            return Fail("an operator name is 1 to 64 bytes of UTF-8 without spaces or control characters", 2);
        }
    } else {
        return Fail(usage, 2);
    }

    Connection db;
    if (action == "list") {
        std::string error;
        if (!db.OpenExisting(database, error))
            return Fail(EscapeForTerminal(error));
        for (const OperatorAccount& account : ListOperators(db)) {
            std::cout << EscapeForTerminal(account.name) << "\t"
                      << TimeText(account.createdAt, "%Y-%m-%d %H:%M:%SZ", false) << "\n";
        }
        return 0;
    }
    if (!db.Open(database) || !EnsureConsoleTables(db)) {
        // A PostgreSQL URI may hold a password: the reason is shown without it.
        return Fail(
            EscapeForTerminal(IsPostgresLocation(database) ? db.Error() : "cannot open the database " + database));
    }
    const std::string& name = words[1];
    if (action == "remove") {
        switch (RemoveOperator(db, name)) {
        case OperatorChange::Done: std::cout << "removed " << EscapeForTerminal(name) << "\n"; return 0;
        case OperatorChange::Missing: return Fail("no operator " + EscapeForTerminal(name));
        default: return Fail("cannot write the database: " + db.Error());
        }
    }
    if (OperatorPasswordHash(db, name))
        return Fail("operator " + EscapeForTerminal(name) + " already exists");
    if (!InitializeSecrets())
        return Fail("libsodium cannot be initialised");
    std::string password, problem;
    if (!ReadPassword(name, password, problem))
        return Fail(problem);
    std::string hash = HashPassword(password);
    if (hash.empty())
        return Fail("cannot hash the password (out of memory)");
    switch (AddOperator(db, name, hash, static_cast<int64_t>(std::time(nullptr)))) {
    case OperatorChange::Done: std::cout << "added " << EscapeForTerminal(name) << "\n"; return 0;
    case OperatorChange::Exists: return Fail("operator " + EscapeForTerminal(name) + " already exists");
    default: return Fail("cannot write the database: " + db.Error());
    }
}

} // namespace kelvora
