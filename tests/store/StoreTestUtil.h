#pragma once

// Helpers shared by the store tests: unique type names (the global store `d` lives
// for the whole test process), handlers bound to lambdas, and exception checks that
// free the thrown object.

#include "store/Data.h"

#include <functional>
#include <string>
#include <vector>

namespace storetest
{
inline std::string Unique(std::string const& base)
{
    static int s_counter = 0;
    return base + "_" + std::to_string(++s_counter);
}

inline int& HandlerDestructions()
{
    static int s_count = 0;
    return s_count;
}

template <class Arg> class FnHandler : public EventHandlerBase<Arg>
{
public:
    explicit FnHandler(std::function<void(Arg)> function) : m_function(std::move(function)) {}
    ~FnHandler() override { ++HandlerDestructions(); }
    void Handle(Arg argument) override { m_function(argument); }
    std::function<void(Arg)> m_function;
};

class Owner : public DataHandler
{
public:
    ~Owner() override { RemoveDataHandlers(); }
    template <class Arg> FnHandler<Arg>* Make(std::function<void(Arg)> function)
    {
        auto* lp_handler = new FnHandler<Arg>(std::move(function));
        AddDataHandler(lp_handler);
        return lp_handler;
    }
};

template <class E, class F> bool Throws(F&& function)
{
    try
    {
        function();
    }
    catch (E* e)
    {
        delete e;
        return true;
    }
    return false;
}

inline std::string Name(ItemPtr item)
{
    if (item.IsNull())
        return "null";
    return item.GetType()->IsNull() ? "#" + item.GetType()->Name().substr(0, 1)
                                    : item.AsStdString();
}

inline std::string Pair(ConnectionInfo const& info)
{
    return Name(info.first) + "-" + Name(info.second);
}
} // namespace storetest
