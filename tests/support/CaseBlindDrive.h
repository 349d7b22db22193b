#pragma once

// A drive formatted for other systems, whose file system takes a name in any case: an
// exFAT image on a loop device, mounted through FUSE for the test's lifetime. Mounting
// needs root and the exFAT tools; where the machine refuses, Path() is empty and Why()
// says what was missing.

#include <QString>
#include <QTemporaryDir>

class CaseBlindDrive
{
public:
    CaseBlindDrive();
    ~CaseBlindDrive();
    CaseBlindDrive(CaseBlindDrive const&) = delete;
    CaseBlindDrive& operator=(CaseBlindDrive const&) = delete;

    QString Path() const { return m_why.isEmpty() ? MountPoint() : QString(); }
    QString const& Why() const { return m_why; }

private:
    QString MountPoint() const { return m_folder.path() + "/drive"; }
    bool Mount();

    QTemporaryDir m_folder;
    QString m_loopDevice;
    bool m_mounted = false;
    QString m_why;
};
