#include "CaseBlindDrive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

namespace
{
// Runs a program to its end, its output kept when asked for; a mount's daemon lives on
// with nothing of ours open.
bool Run(QString const& i_program, QStringList const& i_arguments, QString* o_output = nullptr)
{
    QProcess l_process;
    l_process.setStandardInputFile(QProcess::nullDevice());
    if (!o_output)
        l_process.setStandardOutputFile(QProcess::nullDevice());
    l_process.setStandardErrorFile(QProcess::nullDevice());
    l_process.start(i_program, i_arguments);
    if (!l_process.waitForFinished(30000))
    {
        l_process.kill();
        l_process.waitForFinished();
        return false;
    }
    if (o_output)
        *o_output = QString::fromLocal8Bit(l_process.readAllStandardOutput()).trimmed();
    return l_process.exitStatus() == QProcess::NormalExit && l_process.exitCode() == 0;
}
} // namespace

CaseBlindDrive::CaseBlindDrive()
{
    if (!Mount())
        return;
    // Only a drive that finds a file by another case stands for one.
    QFile l_probe(MountPoint() + "/Probe");
    if (!l_probe.open(QIODevice::WriteOnly) || !QFileInfo::exists(MountPoint() + "/PROBE"))
        m_why = "the mounted exFAT drive tells case apart";
    l_probe.close();
    l_probe.remove();
}

bool CaseBlindDrive::Mount()
{
    auto const l_refused = [this](QString const& i_why)
    {
        m_why = i_why;
        return false;
    };
    if (::geteuid() != 0)
        return l_refused("mounting a drive needs root");
    QString const l_image = m_folder.path() + "/drive.img";
    QFile l_file(l_image);
    if (!m_folder.isValid() || !l_file.open(QIODevice::WriteOnly) ||
        !l_file.resize(32 * 1024 * 1024) || !QDir().mkpath(MountPoint()))
        return l_refused("no room for a drive image");
    l_file.close();
    if (!Run("mkfs.exfat", {l_image}))
        return l_refused("mkfs.exfat (exfatprogs) is missing or failed");
    QString l_device;
    if (!Run("losetup", {"--find", "--show", l_image}, &l_device))
        return l_refused("no loop device");
    m_loopDevice = l_device;
    if (!Run("mount.exfat-fuse", {m_loopDevice, MountPoint()}))
        return l_refused("mount.exfat-fuse (exfat-fuse) is missing or FUSE is refused");
    m_mounted = true;
    return true;
}

CaseBlindDrive::~CaseBlindDrive()
{
    if (m_mounted && !Run("umount", {MountPoint()}))
        Run("umount", {"--lazy", MountPoint()});
    if (!m_loopDevice.isEmpty())
        Run("losetup", {"--detach", m_loopDevice});
}
