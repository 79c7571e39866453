#pragma once
// Where the last walk of a search got to: the page it was on when it stopped or broke off, or
// its end. A finished search is walked again from page 1 (new companies are listed first) as a
// new round, whose entries are new ones; an unfinished one resumes at its page.

namespace store {

struct SearchWalk {
    int page = 1;           // the page to resume at, while unfinished (0: a shared round with
                            // nothing done yet)
    bool finished = false;  // the walk committed the search's last page
    int round = 1;          // walks of the search so far, this one included

    // The round a collect of the search belongs to now: a new one after a finished walk.
    int NextRound() const { return finished ? round + 1 : round; }
};

}  // namespace store
