#include "PgCluster.h"

#include <arpa/inet.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

namespace {

// The newest installed server's programs, or "".
std::string FindBinDir() {
    std::error_code ec;
    std::string best;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string bin = entry.path().string() + "/bin";
        if (std::filesystem::exists(bin + "/initdb") && std::filesystem::exists(bin + "/pg_ctl") &&
            bin > best) {
            best = bin;
        }
    }
    return best;
}

int FreePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
        port = ntohs(addr.sin_port);
    }
    ::close(fd);
    return port;
}

}  // namespace

PgCluster* PgCluster::Shared(std::string& why) {
    static std::unique_ptr<PgCluster> cluster;
    static std::string failure;
    static bool tried = false;
    if (!tried) {
        tried = true;
        std::unique_ptr<PgCluster> c(new PgCluster());
        if (c->Create(failure)) {
            cluster = std::move(c);
        }
    }
    why = failure;
    return cluster.get();
}

int PgCluster::Shell(const std::string& command) const {
    return std::system(command.c_str());
}

bool PgCluster::Create(std::string& why) {
    bin_ = FindBinDir();
    if (bin_.empty()) {
        why =
            "PostgreSQL server programs not found under /usr/lib/postgresql "
            "(scripts/install-deps installs them)";
        return false;
    }
    char tmpl[] = "/tmp/collector-pg-XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) {
        why = "no temporary folder";
        return false;
    }
    dir_ = tmpl;
    std::ofstream(dir_ + "/pw") << kPassword << "\n";
    if (::geteuid() == 0) {
        // The server refuses to run as root.
        const passwd* pg = ::getpwnam("postgres");
        if (pg == nullptr) {
            why = "running as root and there is no postgres user to run the server as";
            return false;
        }
        if (::chown(dir_.c_str(), pg->pw_uid, pg->pw_gid) != 0 ||
            ::chown((dir_ + "/pw").c_str(), pg->pw_uid, pg->pw_gid) != 0) {
            why = "cannot hand the cluster's folder to the postgres user";
            return false;
        }
        runAs_ = "runuser -u postgres -- ";
    }
    // initdb takes most of a small test's time, and every test program (each test, under
    // ctest) makes a cluster: the first one's fresh data folder is kept as a template, named
    // by the server and the settings initdb is given, and copied by the others.
    const std::string settings =
        std::string(" -U ") + kUser + " --auth=scram-sha-256 -E UTF8 --locale=C --no-sync";
    const std::string tmplDir =
        "/tmp/collector-pg-template-" + std::to_string(::geteuid()) + "-" +
        std::to_string(std::hash<std::string>()(bin_ + settings + " " + kPassword));
    if (std::filesystem::exists(tmplDir + "/PG_VERSION") &&
        Shell(runAs_ + "cp -a " + tmplDir + " " + dir_ + "/data") == 0) {
        return StartOnFreePort(why);
    }
    std::error_code gone;
    std::filesystem::remove_all(dir_ + "/data", gone);  // a copy that failed half way
    if (Shell(runAs_ + bin_ + "/initdb -D " + dir_ + "/data" + settings + " --pwfile=" + dir_ +
              "/pw > " + dir_ + "/initdb.log 2>&1") != 0) {
        why = "initdb failed; see " + dir_ + "/initdb.log";
        return false;
    }
    // Copied whole under a name of its own, then renamed: a template is there complete or not
    // at all, whichever program got there first.
    const std::string staging = tmplDir + "." + std::to_string(::getpid());
    if (Shell(runAs_ + "cp -a " + dir_ + "/data " + staging) == 0) {
        std::error_code ec;
        std::filesystem::rename(staging, tmplDir, ec);
        if (ec) {
            std::filesystem::remove_all(staging, ec);
        }
    }
    return StartOnFreePort(why);
}

bool PgCluster::StartOnFreePort(std::string& why) {
    // A port found free may be taken by another test before the server binds it: a few tries.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = FreePort();
        if (Start()) {
            return true;
        }
    }
    why = "the server did not start; see " + dir_ + "/server.log";
    return false;
}

bool PgCluster::Start() {
    running_ = Shell(runAs_ + bin_ + "/pg_ctl -D " + dir_ + "/data -l " + dir_ +
                     "/server.log -w -o \"-p " + std::to_string(port_) + " -k " + dir_ +
                     " -c listen_addresses=127.0.0.1 -c fsync=off -c max_connections=60\" start "
                     "> /dev/null 2>&1") == 0;
    return running_;
}

bool PgCluster::Stop() {
    const bool stopped = Shell(runAs_ + bin_ + "/pg_ctl -D " + dir_ +
                               "/data -m immediate -w stop > /dev/null 2>&1") == 0;
    running_ = running_ && !stopped;
    return stopped;
}

void PgCluster::Freeze(bool frozen) {
    std::ifstream pidFile(dir_ + "/data/postmaster.pid");
    int postmaster = 0;
    pidFile >> postmaster;
    if (postmaster <= 0) {
        return;
    }
    std::vector<int> pids{postmaster};
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid ...: the name may hold blanks, so read after its ')'.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        std::string state;
        int parent = 0;
        rest >> state >> parent;
        if (parent == postmaster) {
            pids.push_back(std::atoi(entry.path().filename().c_str()));
        }
    }
    for (int pid : pids) {
        ::kill(pid, frozen ? SIGSTOP : SIGCONT);
    }
}

PgCluster::~PgCluster() {
    Freeze(false);
    if (running_) {
        Stop();
    }
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
}

std::string PgCluster::Uri(const std::string& database) const {
    return std::string("postgresql://") + kUser + ":" + kPassword +
           "@127.0.0.1:" + std::to_string(port_) + "/" + database;
}

std::string PgCluster::NewDatabase() {
    const std::string name = "t" + std::to_string(::getpid()) + "_" + std::to_string(++databases_);
    PGconn* conn = PQconnectdb(Uri("postgres").c_str());
    PQclear(PQexec(conn, ("CREATE DATABASE " + name).c_str()));
    PQfinish(conn);
    return Uri(name);
}
