#include "CommandLine.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ctime>
#include <iostream>
#include <pthread.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>

#include "AnswerServer.h"
#include "BankImport.h"
#include "ConsoleServer.h"
#include "Database.h"
#include "ImportProgressBar.h"
#include "IndexState.h"
#include "Migrate.h"
#include "OperatorCommands.h"
#include "Records.h"
#include "Replies.h"
#include "SecretFile.h"
#include "TerminalText.h"
#include "Utf8Text.h"

namespace kelvora {

namespace {

constexpr const char* Usage =
    "usage:\n"
    "  kelvora-service serve [--listen HOST:PORT] [--public-url URL] [--db FILE] [--secret-file FILE]\n"
    "                        [--key-lifetime SECONDS] [--threads N] [--notice TEXT] [--reject-notice TEXT]\n"
    "                        [--trust-forwarded-for] [--io-threads N] [--max-connections N]\n"
    "                        [--max-connections-per-address N] [--head-timeout SECONDS]\n"
    "                        [--keep-alive-timeout SECONDS] [--lookup-rate N] [--report-rate N]\n"
    "                        [--access-log off|refused|all] [--report-bytes N] [--max-reports N]\n"
    "                        [--report-days D] [--max-unanswered N] [--unanswered-days D]\n"
    "                        [--disk-reserve-mb MB] [--pool-size N] [--console-listen HOST:PORT|off]\n"
    "  kelvora-service import [--db FILE] BANK.csv|BANK.json ...\n"
    "  kelvora-service unanswered [--db FILE] [--limit N]\n"
    "  kelvora-service stats [--db FILE]\n"
    "  kelvora-service operator add NAME | operator remove NAME | operator list [--db FILE]\n"
    "  kelvora-service migrate --from FILE --database postgresql://...\n"
    "every command takes --database sqlite:FILE (as --db FILE) or --database postgresql://...\n"
    "defaults: --listen 127.0.0.1:8787, --console-listen 127.0.0.1:8788, --db kelvora.db,\n"
    "          --secret-file <db>.secret\n";

// A key secret shared by every server instance, instead of a secret file.
constexpr const char* SecretVariable = "KELVORA_SERVICE_SECRET";
constexpr int64_t DefaultPostgresPool = 16;

struct Arguments {
    std::string command;
    std::string listen = "127.0.0.1:8787";
    std::string consoleListen; // empty: the default address, given up quietly when it is taken
    std::string publicUrl;
    std::string database = "kelvora.db";
    std::string secretFile;
    std::string from; // migrate: the SQLite file
    int64_t poolSize = 0;
    std::string notice = std::string(DefaultNotice);
    std::string rejectNotice = std::string(DefaultRejectNotice);
    int64_t keyLifetime = 600;
    int64_t threads = 16;
    int64_t ioThreads = 2;
    int64_t maxConnections = 4096;
    int64_t maxConnectionsPerAddress = 256;
    int64_t headTimeout = 10;
    int64_t keepAliveTimeout = 5;
    int64_t lookupRate = 100;
    int64_t reportRate = 20;
    AccessLogMode accessLog = AccessLogMode::Off;
    int64_t limit = 50;
    bool trustForwardedFor = false;
    RecordLimits limits;
    std::vector<std::string> files;
};

int UsageError(const std::string& problem)
{
    std::cerr << "kelvora-service: " << problem << "\n" << Usage;
    return 2;
}

int Failure(const std::string& problem)
{
    std::cerr << "kelvora-service: " << problem << "\n";
    return 1;
}

bool ReadNumber(const std::string& text, int64_t low, int64_t high, int64_t& value)
{
    if (text.empty() || text.size() > 12 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoll(text);
    return value >= low && value <= high;
}

// Parses argv into arguments; an error text when they do not fit.
std::string ParseArguments(int argc, char** argv, Arguments& args)
{
    if (argc < 2)
        return "no command given";
    args.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        std::string option = argv[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= argc)
                return false;
            target = argv[++i];
            return true;
        };
        auto number = [&](int64_t low, int64_t high, int64_t& target) {
            std::string text;
            return value(text) && ReadNumber(text, low, high, target);
        };
        bool ok = true;
        if (option == "--listen")
            ok = value(args.listen);
        else if (option == "--console-listen")
            ok = value(args.consoleListen);
        else if (option == "--public-url")
            ok = value(args.publicUrl);
        else if (option == "--db")
            ok = value(args.database);
        else if (option == "--database") {
            ok = value(args.database) && (IsPostgresLocation(args.database) || args.database.rfind("sqlite:", 0) == 0);
            if (ok)
                args.database = IsPostgresLocation(args.database) ? args.database : SqliteFileOf(args.database);
            ok = ok && !args.database.empty();
        } else if (option == "--from")
            ok = value(args.from);
        else if (option == "--pool-size")
            ok = number(1, 1000, args.poolSize);
        else if (option == "--secret-file")
            ok = value(args.secretFile);
        else if (option == "--notice")
            ok = value(args.notice) && IsValidUtf8(args.notice);
        else if (option == "--reject-notice")
            ok = value(args.rejectNotice) && IsValidUtf8(args.rejectNotice);
        else if (option == "--key-lifetime")
            ok = number(10, 7 * 86400, args.keyLifetime);
        else if (option == "--threads")
            ok = number(1, 1024, args.threads);
        else if (option == "--io-threads")
            ok = number(1, 64, args.ioThreads);
        else if (option == "--max-connections")
            ok = number(16, 1000000, args.maxConnections);
        else if (option == "--max-connections-per-address")
            ok = number(1, 1000000, args.maxConnectionsPerAddress);
        else if (option == "--head-timeout")
            ok = number(1, 600, args.headTimeout);
        else if (option == "--keep-alive-timeout")
            ok = number(1, 600, args.keepAliveTimeout);
        else if (option == "--lookup-rate")
            ok = number(0, 1000000, args.lookupRate);
        else if (option == "--report-rate")
            ok = number(0, 1000000, args.reportRate);
        else if (option == "--access-log") {
            std::string mode;
            ok = value(mode) && ParseAccessLogMode(mode, args.accessLog);
        } else if (option == "--limit")
            ok = number(1, 1000000, args.limit);
        else if (option == "--trust-forwarded-for")
            args.trustForwardedFor = true;
        else if (option == "--report-bytes")
            ok = number(256, 65536, args.limits.reportBytes);
        else if (option == "--max-reports")
            ok = number(1, 1000000000, args.limits.mostReports);
        else if (option == "--report-days")
            ok = number(0, 36500, args.limits.reportDays);
        else if (option == "--max-unanswered")
            ok = number(1, 100000000, args.limits.mostUnanswered);
        else if (option == "--unanswered-days")
            ok = number(0, 36500, args.limits.unansweredDays);
        else if (option == "--disk-reserve-mb") {
            int64_t megabytes = 0;
            ok = number(0, 1000000, megabytes);
            args.limits.diskReserveBytes = megabytes * 1024 * 1024;
        } else if (option.rfind("--", 0) == 0)
            return "unknown option " + option;
        else
            args.files.push_back(option);
        if (!ok)
            return "option " + option + " needs a valid value";
    }
    if (args.secretFile.empty() && !IsPostgresLocation(args.database))
        args.secretFile = args.database + ".secret";
    return {};
}

constexpr const char* DefaultConsoleListen = "127.0.0.1:8788";

bool SplitListen(const std::string& listen, std::string& host, int& port)
{
    size_t colon = listen.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    host = listen.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    int64_t number = 0;
    if (!ReadNumber(listen.substr(colon + 1), 0, 65535, number))
        return false;
    port = static_cast<int>(number);
    return true;
}

// The URL goes into the answer template that the tool edits byte-wise, so it
// must be plain printable ASCII.
bool IsUsablePublicUrl(const std::string& url)
{
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0)
        return false;
    for (char c : url) {
        if (c <= ' ' || c > '~' || c == '"' || c == '\\' || c == '?' || c == '#')
            return false;
    }
    return true;
}

int Serve(const Arguments& args)
{
    ServerOptions options;
    if (!SplitListen(args.listen, options.host, options.port))
        return UsageError("--listen needs HOST:PORT");
    if (!args.publicUrl.empty() && !IsUsablePublicUrl(args.publicUrl)) {
        return UsageError("--public-url needs an http:// or https:// URL without query");
    }
    SecretResult secret;
    const char* shared = std::getenv(SecretVariable);
    if (shared && *shared) {
        secret.secret = shared;
        secret.ok = secret.secret.size() >= 16;
        if (!secret.ok)
            return Failure("KELVORA_SERVICE_SECRET must hold at least 16 bytes");
    } else if (args.secretFile.empty()) {
        // Instances on several machines would each make a secret of their
        // own, and keys of one would be refused by the others.
        return UsageError("serve on PostgreSQL needs the instances' shared secret: --secret-file FILE or "
                          "KELVORA_SERVICE_SECRET");
    } else {
        secret = LoadOrCreateSecret(args.secretFile);
        if (!secret.ok)
            return Failure(secret.error);
    }
    options.publicUrl = args.publicUrl;
    options.databasePath = args.database;
    options.secret = secret.secret;
    options.keyLifetime = args.keyLifetime;
    options.threads = static_cast<int>(args.threads);
    options.notice = args.notice;
    options.rejectNotice = args.rejectNotice;
    options.trustForwardedFor = args.trustForwardedFor;
    options.limits = args.limits;
    options.ioThreads = static_cast<int>(args.ioThreads);
    options.maxConnections = static_cast<int>(args.maxConnections);
    options.maxConnectionsPerAddress = static_cast<int>(args.maxConnectionsPerAddress);
    options.headTimeout = static_cast<int>(args.headTimeout);
    options.keepAliveTimeout = static_cast<int>(args.keepAliveTimeout);
    options.lookupRate = static_cast<int>(args.lookupRate);
    options.reportRate = static_cast<int>(args.reportRate);
    options.accessLog = args.accessLog;
    options.poolSize = static_cast<int>(args.poolSize);
    if (options.poolSize == 0 && IsPostgresLocation(args.database))
        options.poolSize = DefaultPostgresPool;

    // Termination signals are taken by one waiter thread; every other thread,
    // the server's workers included, inherits the blocked mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    AnswerServer server(options);
    std::string error;
    if (!server.Start(error))
        return Failure(error);
    std::unique_ptr<ConsoleServer> console;
    if (args.consoleListen != "off") {
        ConsoleOptions consoleOptions;
        if (!SplitListen(args.consoleListen.empty() ? DefaultConsoleListen : args.consoleListen, consoleOptions.host,
                         consoleOptions.port)) {
            return UsageError("--console-listen needs HOST:PORT or off");
        }
        consoleOptions.databasePath = args.database;
        consoleOptions.trustForwardedFor = args.trustForwardedFor;
        consoleOptions.chartScriptPath = KELVORA_CHART_SCRIPT;
        consoleOptions.bank = server.Bank();
        console = std::make_unique<ConsoleServer>(consoleOptions);
        if (!console->Start(error)) {
            // Only an address asked for is a reason not to serve students.
            if (!args.consoleListen.empty())
                return Failure(error);
            std::cerr << "kelvora-service: " << error << "; serving without the console\n";
            console.reset();
        }
    }
    std::thread consoleThread;
    if (console)
        consoleThread = std::thread([&] { console->Run(); });

    std::atomic<bool> finished{false};
    std::thread waiter([&] {
        const timespec tick{0, 100 * 1000 * 1000};
        bool stopping = false;
        while (!finished.load()) {
            if (!stopping)
                stopping = sigtimedwait(&stopSignals, nullptr, &tick) > 0;
            else
                nanosleep(&tick, nullptr);
            // Repeated until Run returns: a stop that arrives before the
            // server is listening would otherwise be lost.
            if (stopping) {
                server.Stop();
                if (console)
                    console->Stop();
            }
        }
    });
    server.Run();
    if (console) {
        console->Stop();
        consoleThread.join();
    }
    finished = true;
    waiter.join();
    return 0;
}

int Import(const Arguments& args)
{
    if (args.files.empty())
        return UsageError("import needs at least one bank file");
    Connection db;
    if (!db.Open(args.database)) {
        return Failure(IsPostgresLocation(args.database) ? db.Error() : "cannot open the database " + args.database);
    }
    int status = 0;
    // On a terminal a progress line is redrawn while the rows go in; into a
    // file or a pipe only the summary lines and warnings are written.
    std::optional<ImportProgressBar> bar;
    if (isatty(STDERR_FILENO))
        bar.emplace(std::cerr);
    for (const std::string& path : args.files) {
        const std::string shownPath = EscapeForTerminal(path);
        if (bar)
            bar->Start(shownPath);
        ImportSummary summary = ImportBankFile(
            db, path, static_cast<int64_t>(std::time(nullptr)),
            [&](const std::string& warning) {
                if (bar)
                    bar->Clear();
                std::cerr << shownPath << ": " << EscapeForTerminal(warning) << "\n";
            },
            [&](const ImportProgress& progress) {
                if (bar)
                    bar->Update(progress);
            });
        if (bar)
            bar->Clear();
        if (!summary.ok) {
            std::cerr << shownPath << ": " << EscapeForTerminal(summary.error) << "\n";
            status = 1;
            continue;
        }
        std::cout << shownPath << ": " << summary.added << " added, " << summary.updated << " updated, "
                  << summary.unchanged << " unchanged, " << summary.skipped << " skipped\n";
        // A file none of whose rows could be used is a failed import, not an empty success.
        if (summary.added + summary.updated + summary.unchanged == 0) {
            std::cerr << shownPath << ": "
                      << (summary.skipped > 0 ? "nothing imported: every question was skipped"
                                              : "nothing imported: the file holds no questions")
                      << "\n";
            status = 1;
        }
    }
    return status;
}

// The commands that only look open the database read-only and never create it.
int Unanswered(const Arguments& args)
{
    Connection db;
    std::string error;
    if (!db.OpenExisting(args.database, error))
        return Failure(EscapeForTerminal(error));
    // Students' wordings may hold anything: escape sequences, line breaks, tabs.
    for (const UnansweredQuestion& item : ListUnanswered(db, args.limit)) {
        std::cout << item.asked << "\t" << TimeText(item.lastAskedAt, "%Y-%m-%d %H:%M:%SZ", false) << "\t"
                  << EscapeForTerminal(item.question) << "\n";
    }
    return 0;
}

int Stats(const Arguments& args)
{
    Connection db;
    std::string error;
    if (!db.OpenExisting(args.database, error))
        return Failure(EscapeForTerminal(error));
    ServiceStats stats = ReadStats(db, static_cast<int64_t>(std::time(nullptr)));
    std::cout << "questions in bank:        " << stats.questions << "\n"
              << "lookups reported:         " << stats.reports << "\n"
              << "lookups reported, 24 h:   " << stats.reportsLastDay << "\n"
              << "unanswered questions:     " << stats.unansweredQuestions << "\n"
              << "unanswered lookups:       " << stats.unansweredLookups << "\n";
    if (TrigramCountsStaleOwner(db) != 0) {
        std::cout << "fuzzy index:              behind the questions (an import stopped early); import again\n";
    }
    return 0;
}

int Migrate(const Arguments& args)
{
    if (args.from.empty() || IsPostgresLocation(args.from) || !IsPostgresLocation(args.database)) {
        return UsageError("migrate needs --from FILE (SQLite) and --database postgresql://...");
    }
    Connection from, to;
    std::string error;
    if (!from.OpenExisting(SqliteFileOf(args.from), error))
        return Failure(EscapeForTerminal(error));
    if (!to.Open(args.database))
        return Failure(to.Error());
    MigrationSummary summary = MigrateDatabase(from, SqliteFileOf(args.from), to);
    if (!summary.ok)
        return Failure(EscapeForTerminal(summary.error));
    std::cout << "questions: " << summary.added << " added, " << summary.updated << " updated, " << summary.unchanged
              << " unchanged\n"
              << "reports copied: " << summary.reports << "\n"
              << "unanswered questions merged: " << summary.unanswered << "\n";
    return 0;
}

} // namespace

int RunCommandLine(int argc, char** argv)
{
    Arguments args;
    std::string problem = ParseArguments(argc, argv, args);
    if (!problem.empty())
        return UsageError(problem);
    if (args.command == "serve")
        return Serve(args);
    if (args.command == "import")
        return Import(args);
    if (args.command == "unanswered")
        return Unanswered(args);
    if (args.command == "stats")
        return Stats(args);
    if (args.command == "migrate")
        return Migrate(args);
    if (args.command == "operator")
        return RunOperatorCommand(args.database, args.files);
    if (args.command == "--help" || args.command == "help") {
        std::cout << Usage;
        return 0;
    }
    return UsageError("unknown command " + args.command);
}

} // namespace kelvora
