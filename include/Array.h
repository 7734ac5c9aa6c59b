/*
 * Array: a hash map with the few extra operations the map library's
 * geometry code uses. It is the standard unordered map (so clear, size,
 * find and iteration are all there) plus:
 *
 *   set(key, value)  stores value and returns the value the key held, or
 *                    `null` when the key was absent;
 *   contains(key)    whether the key is present;
 *   null             what set returns for an absent key (a value-initialised
 *                    V after construction, 0 for numbers);
 *   freeElementV/K   optional release hooks. When one is set and the value
 *                    (or key) type is a pointer, the destructor hands every
 *                    value (or key) to it; for other types the hooks are
 *                    never called.
 */
#ifndef ORVEX_ARRAY_H
#define ORVEX_ARRAY_H

#include <type_traits>
#include <unordered_map>

template <typename K, typename V>
class Array : public std::unordered_map<K, V> {
public:
    typedef void (*ReleaseHook)(void *);

    ReleaseHook freeElementV = nullptr;
    ReleaseHook freeElementK = nullptr;
    V null{};

    Array() = default;
    Array(const Array &) = delete;  // the hooks would release elements twice
    Array &operator=(const Array &) = delete;

    ~Array()
    {
        for (auto &entry : *this) {
            releaseWith(freeElementK, entry.first);
            releaseWith(freeElementV, entry.second);
        }
    }

    V set(const K &key, const V &value)
    {
        auto found = this->find(key);
        if (found == this->end()) {
            this->emplace(key, value);
            return null;
        }
        V previous = found->second;
        found->second = value;
        return previous;
    }

    bool contains(const K &key) const { return this->find(key) != this->end(); }

private:
    template <typename T>
    static void releaseWith(ReleaseHook hook, const T &element)
    {
        if constexpr (std::is_pointer<T>::value) {
            if (hook) hook(const_cast<void *>(static_cast<const void *>(element)));
        } else {
            (void)hook;
            (void)element;
        }
    }
};

#endif
