// A generated directory on loopback for measuring whole runs of collector-cli: PAGES result
// pages of 20 companies for any search, each with a contact page, every answer LATENCY_MS
// late (a distant site; 0 by default). Prints "port N", then serves until its standard input
// closes.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "GeneratedSite.h"

int main(int argc, char** argv) {
    const int pages = argc > 1 ? std::atoi(argv[1]) : 500;
    const int latencyMs = argc > 2 ? std::atoi(argv[2]) : 0;
    standin::Server server;
    standin::ServeGeneratedSite(server, pages, 20);
    server.SetLatency(latencyMs);
    std::cout << "port " << server.Port() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
