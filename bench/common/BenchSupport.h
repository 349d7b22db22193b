#pragma once

// Scaffolding the benchmark programs share: the offscreen platform, the run of the
// registered benchmarks, fastest-of-several registration and its reporter, the thread CPU
// clock, the lowest-figure record, the resident-set reader and the bounded wait for an
// event. Header-only: every bench folder is its own executable.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>
#include <QtGlobal>

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace bench
{

// Widgets need a platform; offscreen unless the caller chose another.
inline void UseOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Runs the registered benchmarks, then prints the summary the program keeps.
// Returns the exit code for main: 1 on an argument the library does not know.
inline int RunBenchmarks(int& io_argc, char** iop_argv, void (*ip_summary)())
{
    benchmark::Initialize(&io_argc, iop_argv);
    if (benchmark::ReportUnrecognizedArguments(io_argc, iop_argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ip_summary();
    return 0;
}

inline double Fastest(std::vector<double> const& i_times)
{
    return *std::min_element(i_times.begin(), i_times.end());
}

// One pass per repetition, wall-clock time in milliseconds; only the aggregates are shown,
// "min" among them.
inline void RegisterFastestOf(int i_repetitions, char const* ip_name,
                              void (*ip_function)(benchmark::State&))
{
    benchmark::RegisterBenchmark(ip_name, ip_function)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(i_repetitions)
        ->ComputeStatistics("min", Fastest)
        ->DisplayAggregatesOnly(true)
        ->UseRealTime();
}

// Keeps each benchmark's fastest repetition (registered by RegisterFastestOf) so the ratios
// can be printed at the end.
class FastestReporter : public benchmark::ConsoleReporter
{
public:
    void ReportRuns(std::vector<Run> const& i_runs) override
    {
        for (Run const& l_run : i_runs)
            if (l_run.run_type == Run::RT_Aggregate && l_run.aggregate_name == "min")
                m_seconds[l_run.run_name.function_name] =
                    l_run.GetAdjustedRealTime() / 1000.0; // unit is milliseconds
        ConsoleReporter::ReportRuns(i_runs);
    }
    double Seconds(std::string const& i_name) const
    {
        auto const l_it = m_seconds.find(i_name);
        return l_it == m_seconds.end() ? 0.0 : l_it->second;
    }

private:
    std::map<std::string, double> m_seconds;
};

// CPU time of the calling thread, in microseconds.
inline double ThreadCpuMicroseconds()
{
    timespec l_time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &l_time);
    return double(l_time.tv_sec) * 1e6 + double(l_time.tv_nsec) * 1e-3;
}

// Keeps the lowest figure recorded under each name.
inline void KeepLowest(std::map<std::string, double>& io_figures, std::string const& i_name,
                       double i_value)
{
    auto const l_it = io_figures.find(i_name);
    if (l_it == io_figures.end() || i_value < l_it->second)
        io_figures[i_name] = i_value;
}

inline long long ResidentBytes()
{
    std::ifstream l_statm("/proc/self/statm");
    long long l_size = 0, l_resident = 0;
    l_statm >> l_size >> l_resident;
    return l_resident * sysconf(_SC_PAGESIZE);
}

// Runs the event loop until the condition holds or the deadline passes; whether it holds.
// The thread sleeps between events, and a timer due at the deadline wakes it when no
// other event comes, so a wait for something that never happens still ends.
template <class Condition> bool WaitUntil(Condition i_condition, QDeadlineTimer i_deadline)
{
    // Most waits are over before they start; those make no timer.
    if (i_condition())
        return true;
    QTimer l_alarm;
    l_alarm.setSingleShot(true);
    l_alarm.setTimerType(Qt::PreciseTimer);
    while (!i_condition())
    {
        if (i_deadline.hasExpired())
            return false;
        // Set again whenever it has gone off: a timer may fire a little before its time.
        if (!l_alarm.isActive())
            l_alarm.start(
                std::chrono::milliseconds(std::max<qint64>(1, i_deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

template <class Condition> bool WaitUntil(Condition i_condition, int i_timeoutMs)
{
    return WaitUntil(i_condition, QDeadlineTimer(i_timeoutMs));
}

} // namespace bench
