#include "CommandLine.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <ctime>
#include <iostream>
#include <iterator>
#include <pthread.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <variant>
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
    std::string database = "kelvora.db";
    std::string secretFile;
    std::string from; // migrate: the SQLite file
    int64_t limit = 50;
    // serve: the options given; its address, database and secret come from the fields above.
    ServerOptions server{.notice = std::string(DefaultNotice), .rejectNotice = std::string(DefaultRejectNotice)};
    std::vector<std::string> files;
};

// An option that takes a whole number from low to high.
struct NumberOption {
    const char* name;
    int64_t low;
    int64_t high;
    std::variant<int*, int64_t*> target;
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
    ServerOptions& server = args.server;
    const std::pair<const char*, std::string*> texts[] = {{"--listen", &args.listen},
                                                          {"--console-listen", &args.consoleListen},
                                                          {"--public-url", &server.publicUrl},
                                                          {"--db", &args.database},
                                                          {"--from", &args.from},
                                                          {"--secret-file", &args.secretFile}};
    const NumberOption numbers[] = {{"--pool-size", 1, 1000, &server.poolSize},
                                    {"--key-lifetime", 10, 7 * 86400, &server.keyLifetime},
                                    {"--threads", 1, 1024, &server.threads},
                                    {"--io-threads", 1, 64, &server.ioThreads},
                                    {"--max-connections", 16, 1000000, &server.maxConnections},
                                    {"--max-connections-per-address", 1, 1000000, &server.maxConnectionsPerAddress},
                                    {"--head-timeout", 1, 600, &server.headTimeout},
                                    {"--keep-alive-timeout", 1, 600, &server.keepAliveTimeout},
                                    {"--lookup-rate", 0, 1000000, &server.lookupRate},
                                    {"--report-rate", 0, 1000000, &server.reportRate},
                                    {"--limit", 1, 1000000, &args.limit},
                                    {"--report-bytes", 256, 65536, &server.limits.reportBytes},
                                    {"--max-reports", 1, 1000000000, &server.limits.mostReports},
                                    {"--report-days", 0, 36500, &server.limits.reportDays},
                                    {"--max-unanswered", 1, 100000000, &server.limits.mostUnanswered},
                                    {"--unanswered-days", 0, 36500, &server.limits.unansweredDays}};
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
        auto text = std::find_if(std::begin(texts), std::end(texts), [&](auto& o) { return option == o.first; });
        auto numeric = std::find_if(std::begin(numbers), std::end(numbers), [&](auto& o) { return option == o.name; });
        bool ok = true;
        if (text != std::end(texts)) {
            ok = value(*text->second);
        } else if (numeric != std::end(numbers)) {
            int64_t given = 0;
            ok = number(numeric->low, numeric->high, given);
            if (ok)
                std::visit([&](auto* target) { *target = static_cast<std::remove_pointer_t<decltype(target)>>(given); },
                           numeric->target);
        } else if (option == "--database") {
            ok = value(args.database) && (IsPostgresLocation(args.database) || args.database.rfind("sqlite:", 0) == 0);
            if (ok)
                args.database = IsPostgresLocation(args.database) ? args.database : SqliteFileOf(args.database);
            ok = ok && !args.database.empty();
        } else if (option == "--notice")
            ok = value(server.notice) && IsValidUtf8(server.notice);
        else if (option == "--reject-notice")
            ok = value(server.rejectNotice) && IsValidUtf8(server.rejectNotice);
        else if (option == "--access-log") {
            std::string mode;
            ok = value(mode) && ParseAccessLogMode(mode, server.accessLog);
        } else if (option == "--trust-forwarded-for")
            server.trustForwardedFor = true;
        else if (option == "--disk-reserve-mb") {
            int64_t megabytes = 0;
            ok = number(0, 1000000, megabytes);
            server.limits.diskReserveBytes = megabytes * 1024 * 1024;
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
    ServerOptions options = args.server;
    if (!SplitListen(args.listen, options.host, options.port))
        return UsageError("--listen needs HOST:PORT");
    if (!options.publicUrl.empty() && !IsUsablePublicUrl(options.publicUrl)) {
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
    options.databasePath = args.database;
    options.secret = secret.secret;
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
        consoleOptions.trustForwardedFor = options.trustForwardedFor;
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

int Operator(const Arguments& args)
{
    return RunOperatorCommand(args.database, args.files);
}

} // namespace

int RunCommandLine(int argc, char** argv)
{
    Arguments args;
    std::string problem = ParseArguments(argc, argv, args);
    if (!problem.empty())
        return UsageError(problem);
    const std::pair<const char*, int (*)(const Arguments&)> commands[] = {
        {"serve", Serve}, {"import", Import},   {"unanswered", Unanswered},
        {"stats", Stats}, {"migrate", Migrate}, {"operator", Operator}};
    for (const auto& [name, run] : commands) {
        if (args.command == name)
            return run(args);
    }
    if (args.command == "--help" || args.command == "help") {
        std::cout << Usage;
        return 0;
    }
    return UsageError("unknown command " + args.command);
}

} // namespace kelvora
