#pragma once

#include <QString>

namespace tevrak {

// One program per workstation: the program holds a lock on a hidden file at
// the root of its drive C: for as long as it runs (the system lets it go when
// the process ends, however it ends). A second start on the same drive C:
// finds it held.
class SingleInstance {
public:
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another program holds the workstation. A lock that cannot be
    // taken for another reason (a drive C: that cannot be written) does not
    // keep the program from starting: the start-up reports that drive itself.
    bool acquired() const { return m_acquired; }
    // What a second start tells the clerk (Thai).
    static QString alreadyRunningMessage();

private:
    int m_fd = -1;
    bool m_acquired = true;
};

} // namespace tevrak
