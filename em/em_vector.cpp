// em_vector.cpp -- the 3-D vector arithmetic of the positioned voices: three
// 32-bit floats, in the listener's right-handed frame
#include <cmath>

#include "em/em_local.h"

void em_vecset(em_vector* v, float x, float y, float z)
{
    v->x = x;
    v->y = y;
    v->z = z;
}

void em_veccopy(em_vector* to, const em_vector* from)
{
    *to = *from;
}

em_vector em_vecsub(const em_vector* a, const em_vector* b)
{
    return {a->x - b->x, a->y - b->y, a->z - b->z};
}

void em_vecaddscaled(em_vector* a, float s, const em_vector* b)
{
    a->x += s * b->x;
    a->y += s * b->y;
    a->z += s * b->z;
}

float em_vecdot(const em_vector* a, const em_vector* b)
{
    return a->x * b->x + a->y * b->y + a->z * b->z;
}

em_vector em_veccross(const em_vector* a, const em_vector* b)
{
    return {a->y * b->z - b->y * a->z, a->z * b->x - b->z * a->x, a->x * b->y - b->x * a->y};
}

float em_veclength(const em_vector* v)
{
    return std::sqrt(em_vecdot(v, v));
}

float em_vecnormalise(em_vector* v)
{
    const float length = em_veclength(v);
    // A zero vector has no direction: it stays zero instead of becoming NaN.
    if (length > 0.0f) {
        v->x /= length;
        v->y /= length;
        v->z /= length;
    }
    return length;
}

em_vector em_vecfrom(const float* v)
{
    return {v[0], v[1], v[2]};
}

void em_vecto(float* v, const em_vector* from)
{
    v[0] = from->x;
    v[1] = from->y;
    v[2] = from->z;
}
