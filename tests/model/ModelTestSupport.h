// Small lists for the model tests.
#pragma once

#include "model/Apple.h"
#include "model/Vectors.h"

#include <vector>

// A doubly linked apple list with apples at `points`, in order; the caller
// owns it (deleting the first apple frees the list).
inline Capples* makeApples(const std::vector<Cvector>& points)
{
    Capples* head = nullptr;
    Capples* last = nullptr;
    for (const Cvector& p : points) {
        auto* a = new Capples(p.x, p.y);
        if (last == nullptr) {
            head = a;
        } else {
            last->next = a;
            a->prev = last;
        }
        last = a;
    }
    return head;
}
