#include "net/peer/InFunction.h"

std::set<QString> g_inFunctions;

InFunction::InFunction(char const* ip_name) : m_name(QString::fromUtf8(ip_name))
{
    g_inFunctions.insert(m_name);
}

InFunction::~InFunction()
{
    Dispose();
}

void InFunction::Dispose()
{
    if (m_isDisposed)
        return;
    g_inFunctions.erase(m_name);
    m_isDisposed = true;
}

bool IsInFunction(char const* ip_name)
{
    return g_inFunctions.count(QString::fromUtf8(ip_name)) != 0;
}
