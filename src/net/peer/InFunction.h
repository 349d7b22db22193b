#pragma once

// A scope marker: while one lives (and until its first Dispose), its name is in
// g_inFunctions. The frame reader holds one for its whole run, so a debugging session
// can tell whether a disposal happened from inside the reader.

#include <QString>

#include <set>

extern std::set<QString> g_inFunctions;

class InFunction
{
public:
    explicit InFunction(char const* ip_name);
    ~InFunction();
    InFunction(InFunction const&) = delete;
    InFunction& operator=(InFunction const&) = delete;

    // Takes the name out of the set once; later calls do nothing. A nested marker of
    // the same name takes it out for the outer one too.
    void Dispose();

private:
    QString m_name;
    bool m_isDisposed = false;
};

bool IsInFunction(char const* ip_name);
