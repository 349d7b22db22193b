#pragma once

// Tables of item types and relations, for components that declare their part of the
// schema in one place. Every type declared this way creates its items on lookup.

#include "store/Data.h"

#include <initializer_list>
#include <span>

struct TypeSpec
{
    char const* name;
    Primacy primacy;
    bool isNull;
};

struct RelationSpec
{
    char const* a;
    char const* b;
    OneOrMany aPerB; // how many A items one B item may hold
    OneOrMany bPerA; // how many B items one A item may hold
};

void DeclareTypes(std::span<TypeSpec const> i_types);
void RelateTypes(std::span<RelationSpec const> i_relations);

inline void DeclareTypes(std::initializer_list<TypeSpec> i_types)
{
    DeclareTypes(std::span<TypeSpec const>(i_types.begin(), i_types.size()));
}

inline void RelateTypes(std::initializer_list<RelationSpec> i_relations)
{
    RelateTypes(std::span<RelationSpec const>(i_relations.begin(), i_relations.size()));
}
