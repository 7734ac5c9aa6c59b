// Lists of pointers and string-keyed arrays.

#include <stdlib.h>
#include <string.h>

#include <map>
#include <new>
#include <string>

#include "hostkit.h"

struct Arr {
    std::map<std::string, void *> values;
};

extern "C" {

Tbl *newtbl(long size)
{
    Tbl *tbl = static_cast<Tbl *>(calloc(1, sizeof(Tbl)));
    if (!tbl) return nullptr;
    tbl->capacity = size > 0 ? size : 1;
    tbl->entries = static_cast<void **>(calloc(static_cast<size_t>(tbl->capacity), sizeof(void *)));
    if (!tbl->entries) {
        free(tbl);
        return nullptr;
    }
    return tbl;
}

long settbl(Tbl *tbl, long index, void *value)
{
    if (!tbl) return -1;
    if (index == -1) index = tbl->nentries;
    if (index < 0 || index > tbl->nentries) return -1;
    if (index == tbl->nentries) {
        if (tbl->nentries == tbl->capacity) {
            long grown = tbl->capacity * 2;
            void **entries = static_cast<void **>(
                realloc(tbl->entries, static_cast<size_t>(grown) * sizeof(void *)));
            if (!entries) return -1;
            tbl->entries = entries;
            tbl->capacity = grown;
        }
        tbl->nentries++;
    }
    tbl->entries[index] = value;
    return index;
}

void *gettbl(Tbl *tbl, long index)
{
    if (!tbl || index < 0 || index >= tbl->nentries) return nullptr;
    return tbl->entries[index];
}

long maxtbl(Tbl *tbl)
{
    return tbl ? tbl->nentries : 0;
}

void freetbl(Tbl *tbl, void (*free_value)(void *))
{
    if (!tbl) return;
    if (free_value)
        for (long i = 0; i < tbl->nentries; i++) free_value(tbl->entries[i]);
    free(tbl->entries);
    free(tbl);
}

Arr *newarr(int (*)(const char *, const char *))
{
    return new (std::nothrow) Arr;
}

void *getarr(Arr *arr, const char *key)
{
    if (!arr || !key) return nullptr;
    auto it = arr->values.find(key);
    return it == arr->values.end() ? nullptr : it->second;
}

void *setarr(Arr *arr, const char *key, void *value)
{
    if (!arr || !key) return nullptr;
    try {
        void *&slot = arr->values[key];
        void *old = slot;
        slot = value;
        return old;
    } catch (...) {
        return nullptr;
    }
}

long cntarr(Arr *arr)
{
    return arr ? static_cast<long>(arr->values.size()) : 0;
}

Tbl *keysarr(Arr *arr)
{
    Tbl *keys = newtbl(arr ? cntarr(arr) : 1);
    if (!keys || !arr) return keys;
    for (auto &kv : arr->values) {
        if (settbl(keys, -1, const_cast<char *>(kv.first.c_str())) < 0) {
            freetbl(keys, nullptr);
            return nullptr;
        }
    }
    return keys;
}

void freearr(Arr *arr, void (*free_value)(void *))
{
    if (!arr) return;
    if (free_value)
        for (auto &kv : arr->values) free_value(kv.second);
    delete arr;
}

}  // extern "C"
