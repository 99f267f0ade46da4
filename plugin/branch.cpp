#include "branch.h"

namespace ramulon {

wezel_typ::~wezel_typ()
{
    free_following(next);
    joined = nullptr;
    join_node = nullptr;
}

galaz_typ::~galaz_typ()
{
    delete first;
    first = nullptr;
    last = nullptr;
}

void swap_chains(galaz_typ &a, galaz_typ &b)
{
    galaz_typ temp;
    temp = a;
    a = b;
    b = temp;
    temp.first = nullptr;
    temp.last = nullptr;
}

} // namespace ramulon
