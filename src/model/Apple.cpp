// The apple list and the collection test. Drawing lives in gfx.
#include "model/Apple.h"

#include "physics/Balls.h"

Capples::~Capples()
{
    // Free the rest of the list one apple at a time, without recursion.
    Capples* a = next;
    next = nullptr;
    while (a != nullptr) {
        Capples* following = a->next;
        a->next = nullptr;
        a->prev = nullptr;
        delete a;
        a = following;
    }
}

Capples* collectApples(Capples* list, const Cball& ball, int32_t& count)
{
    Capples* head = list;
    const double reach = ball.radius + kAppleRadius;
    Capples* apple = list;
    while (apple != nullptr) {
        Capples* following = apple->next;
        if (distance(*apple, ball.position) < reach) {
            count = count - 1;
            if (apple->prev != nullptr) {
                apple->prev->next = apple->next;
            } else {
                head = apple->next;
            }
            if (apple->next != nullptr) {
                apple->next->prev = apple->prev;
            }
            apple->next = nullptr;
            apple->prev = nullptr;
            delete apple;
        }
        apple = following;
    }
    return head;
}
