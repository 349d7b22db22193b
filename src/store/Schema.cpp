#include "store/Schema.h"

void DeclareTypes(std::span<TypeSpec const> i_types)
{
    for (TypeSpec const& l_type : i_types)
        d.NewType(l_type.name, l_type.primacy, l_type.isNull, true);
}

void RelateTypes(std::span<RelationSpec const> i_relations)
{
    for (RelationSpec const& l_relation : i_relations)
        d[l_relation.a]->RelateToType(d[l_relation.b], l_relation.aPerB, l_relation.bPerA);
}
