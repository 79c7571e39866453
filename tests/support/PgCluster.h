#pragma once
// A throwaway PostgreSQL cluster on loopback for tests: initdb in a temporary folder (as the
// postgres user when the tests run as root), started on a free port with password logins,
// stopped and removed when the test program ends. Tests that need it skip, saying why, when
// the PostgreSQL server programs are not installed.

#include <string>

class PgCluster {
  public:
    // The cluster of this test program, started at the first call; nullptr, with the reason
    // in `why`, when it cannot be had.
    static PgCluster* Shared(std::string& why);

    // The URI of a new, empty database of the cluster.
    std::string NewDatabase();
    std::string Uri(const std::string& database) const;
    // Stops the server at once (clients lose their connections) and starts it again.
    bool Stop();
    bool Start();
    // Stops (SIGSTOP) or continues (SIGCONT) every process of the server: the kernel still
    // takes connections, nothing answers them. A host that froze.
    void Freeze(bool frozen);

    static constexpr const char* kUser = "collector";
    static constexpr const char* kPassword = "s3cret-Pw9";

    ~PgCluster();

  private:
    PgCluster() = default;
    bool Create(std::string& why);
    bool StartOnFreePort(std::string& why);
    int Shell(const std::string& command) const;

    std::string bin_;
    std::string dir_;
    std::string runAs_;  // prefix that runs a server program as the postgres user
    int port_ = 0;
    int databases_ = 0;
    bool running_ = false;
};
