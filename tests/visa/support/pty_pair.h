// A pseudo-terminal pair standing in for a serial instrument: the test plays the instrument on
// the master side, the VISA layer opens the slave path.
#pragma once

#include <string>

class PtyPair
{
public:
    PtyPair() = default;
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    // Opens the pair and puts the slave in raw mode without echo; keeps a slave descriptor open
    // so that the pair stays up while the layer opens and closes its own.
    bool open();
    int master() const { return master_; }
    int slave() const { return slave_; }
    const std::string &slavePath() const { return slavePath_; }

    bool send(const std::string &bytes);
    // Reads from the master until terminator arrives (included) or timeoutMs passes.
    std::string receive(char terminator, int timeoutMs);
    // Closes the master, as when the instrument side goes away.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};
