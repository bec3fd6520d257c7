/*
 * quillmar-dxgi-gpu-info: the report of gpuinfo_get_json() as C records.
 *
 * Header-only, for C (C99 or later) and C++ hosts: no allocation, no
 * <windows.h>, no library to link. The reader takes the keys it knows by
 * name and type and passes over the rest, so whitespace, key order and keys
 * a later library adds are fine.
 *
 *     gpuinfo_adapter adapters[16];
 *     size_t at;
 *     const char *report = gpuinfo_get_json();  // NULL: gpuinfo_last_error() says why
 *     int n = report ? gpuinfo_read_report(report, adapters, 16, &at) : -1;
 *     // n < 0: not a report (problem at byte `at`); n > 16: 16 read, n held
 */
#ifndef QUILLMAR_GPUINFO_REPORT_H
#define QUILLMAR_GPUINFO_REPORT_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One adapter of the report. Texts are UTF-8, NUL-terminated, cut at a whole
 * character when longer than their field. */
typedef struct gpuinfo_adapter {
    int index;                  /* the argument gpuinfo_vram_mb takes */
    char name[192];
    char vendor[32];
    uint32_t vendor_id;
    uint32_t device_id;
    uint64_t dedicated_vram_mb;
    uint64_t shared_memory_mb;
    char driver_version[64];    /* "" when DXGI gives none */
    int software;               /* 1 for Microsoft's software rasterizer, else 0 */
} gpuinfo_adapter;

/* Reads the NUL-terminated report `json` into out[0..capacity-1] (out may be
 * NULL when capacity is 0). Returns how many adapters the report holds, which
 * may exceed capacity, or -1 if the text is not a report: not JSON, a key of
 * the record missing, or a value of the wrong type or out of range; then
 * *error_offset (when not NULL) is the byte where the problem is, and out may
 * hold some records. A NULL `json` (gpuinfo_get_json() failed) is -1 at byte
 * 0. Whatever the result, every text of every record in out[0..capacity-1]
 * is NUL-terminated within its field (empty where nothing was read). */
static inline int gpuinfo_read_report(const char *json, gpuinfo_adapter *out, int capacity, size_t *error_offset);

/* ------------------------------------------------------------------------
 * Implementation. Nothing below is part of the interface; names ending in
 * '_' may change in any version.
 * ------------------------------------------------------------------------ */

enum {
    GPUINFO_REPORT_MAX_DEPTH_ = 64, /* nested objects and arrays, the report's own included */
    GPUINFO_REPORT_KEY_BYTES_ = 24, /* longer keys are none of the record's */
    GPUINFO_REPORT_FIELDS_ = 9
};

typedef struct gpuinfo_reader_ {
    const char *start, *at;
    const char *problem; /* the first problem found, or NULL */
} gpuinfo_reader_;

/* Where a text being read goes: size bytes at `to` (NUL included), or
 * nowhere when size is 0. Once a character does not fit, none after it is
 * kept, so a text is only ever cut at a whole character. */
typedef struct gpuinfo_text_ {
    char *to;
    size_t size, length;
    int full;
} gpuinfo_text_;

static inline int gpuinfo_fail_(gpuinfo_reader_ *r, const char *where)
{
    if (!r->problem)
        r->problem = where;
    return 0;
}

static inline void gpuinfo_skip_space_(gpuinfo_reader_ *r)
{
    while (*r->at == ' ' || *r->at == '\t' || *r->at == '\n' || *r->at == '\r')
        ++r->at;
}

static inline int gpuinfo_expect_(gpuinfo_reader_ *r, char c)
{
    gpuinfo_skip_space_(r);
    if (*r->at != c)
        return gpuinfo_fail_(r, r->at);
    ++r->at;
    return 1;
}

static inline void gpuinfo_keep_(gpuinfo_text_ *t, const char *bytes, size_t n)
{
    if (t->full || t->size == 0)
        return;
    if (t->length + n >= t->size) {
        t->full = 1;
        return;
    }
    memcpy(t->to + t->length, bytes, n);
    t->length += n;
    t->to[t->length] = '\0'; /* terminated at every step, so a text cut off by a refusal is too */
}

/* One character of UTF-8 as it stands in the text: its byte count, or 0 if
 * the bytes are not well-formed UTF-8 (overlong forms, surrogates and code
 * points past U+10FFFF are not). */
static inline size_t gpuinfo_utf8_length_(const unsigned char *s)
{
    unsigned char low = 0x80, high = 0xBF; /* range of the second byte */
    size_t n, k;
    if (s[0] < 0x80)
        return 1;
    if (s[0] >= 0xC2 && s[0] <= 0xDF)
        n = 2;
    else if (s[0] >= 0xE0 && s[0] <= 0xEF) {
        n = 3;
        low = s[0] == 0xE0 ? 0xA0 : 0x80;
        high = s[0] == 0xED ? 0x9F : 0xBF;
    } else if (s[0] >= 0xF0 && s[0] <= 0xF4) {
        n = 4;
        low = s[0] == 0xF0 ? 0x90 : 0x80;
        high = s[0] == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (s[1] < low || s[1] > high)
        return 0;
    for (k = 2; k < n; ++k)
        if (s[k] < 0x80 || s[k] > 0xBF)
            return 0;
    return n;
}

/* Four hex digits after "\u": the code unit, or -1. */
static inline long gpuinfo_hex4_(const char *p)
{
    long value = 0;
    int i;
    for (i = 0; i < 4; ++i) {
        char c = p[i];
        int digit = c >= '0' && c <= '9' ? c - '0'
                    : c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                           : -1;
        if (digit < 0)
            return -1;
        value = value * 16 + digit;
    }
    return value;
}

/* A \u escape (with its low surrogate when it is a high one) at r->at, as
 * UTF-8 into t. U+0000 is refused: it cannot stand in a C text. */
static inline int gpuinfo_unicode_escape_(gpuinfo_reader_ *r, gpuinfo_text_ *t)
{
    const char *escape = r->at;
    long point = gpuinfo_hex4_(escape + 2);
    char utf8[4];
    size_t n;
    if (point <= 0 || (point >= 0xDC00 && point <= 0xDFFF))
        return gpuinfo_fail_(r, escape);
    r->at += 6;
    if (point >= 0xD800 && point <= 0xDBFF) {
        long low = r->at[0] == '\\' && r->at[1] == 'u' ? gpuinfo_hex4_(r->at + 2) : -1;
        if (low < 0xDC00 || low > 0xDFFF)
            return gpuinfo_fail_(r, escape);
        point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
        r->at += 6;
    }
    if (point < 0x80) {
        utf8[0] = (char)point;
        n = 1;
    } else if (point < 0x800) {
        utf8[0] = (char)(0xC0 | (point >> 6));
        utf8[1] = (char)(0x80 | (point & 0x3F));
        n = 2;
    } else if (point < 0x10000) {
        utf8[0] = (char)(0xE0 | (point >> 12));
        utf8[1] = (char)(0x80 | ((point >> 6) & 0x3F));
        utf8[2] = (char)(0x80 | (point & 0x3F));
        n = 3;
    } else {
        utf8[0] = (char)(0xF0 | (point >> 18));
        utf8[1] = (char)(0x80 | ((point >> 12) & 0x3F));
        utf8[2] = (char)(0x80 | ((point >> 6) & 0x3F));
        utf8[3] = (char)(0x80 | (point & 0x3F));
        n = 4;
    }
    gpuinfo_keep_(t, utf8, n);
    return 1;
}

/* A JSON string at r->at (after any whitespace), decoded into t. */
static inline int gpuinfo_string_(gpuinfo_reader_ *r, gpuinfo_text_ *t)
{
    static const char simple[] = "\"\\/bfnrt", decoded[] = "\"\\/\b\f\n\r\t";
    if (!gpuinfo_expect_(r, '"'))
        return 0;
    if (t->size)
        t->to[0] = '\0';
    for (;;) {
        unsigned char c = (unsigned char)*r->at;
        if (c == '"')
            break;
        if (c < 0x20)
            return gpuinfo_fail_(r, r->at); /* a control byte, or the end of the text */
        if (c == '\\') {
            const char *which = r->at[1] ? strchr(simple, r->at[1]) : NULL;
            if (r->at[1] == 'u') {
                if (!gpuinfo_unicode_escape_(r, t))
                    return 0;
                continue;
            }
            if (!which)
                return gpuinfo_fail_(r, r->at);
            gpuinfo_keep_(t, decoded + (which - simple), 1);
            r->at += 2;
            continue;
        }
        {
            size_t n = gpuinfo_utf8_length_((const unsigned char *)r->at);
            if (n == 0)
                return gpuinfo_fail_(r, r->at);
            gpuinfo_keep_(t, r->at, n);
            r->at += n;
        }
    }
    ++r->at;
    if (t->size)
        t->to[t->length] = '\0';
    return 1;
}

static inline int gpuinfo_is_digit_(char c)
{
    return c >= '0' && c <= '9';
}

/* Any JSON number, its syntax checked. */
static inline int gpuinfo_skip_number_(gpuinfo_reader_ *r)
{
    if (*r->at == '-')
        ++r->at;
    if (!gpuinfo_is_digit_(*r->at))
        return gpuinfo_fail_(r, r->at);
    if (*r->at == '0')
        ++r->at; /* JSON has no leading zeros */
    else
        while (gpuinfo_is_digit_(*r->at))
            ++r->at;
    if (*r->at == '.') {
        if (!gpuinfo_is_digit_(*++r->at))
            return gpuinfo_fail_(r, r->at);
        while (gpuinfo_is_digit_(*r->at))
            ++r->at;
    }
    if (*r->at == 'e' || *r->at == 'E') {
        ++r->at;
        if (*r->at == '+' || *r->at == '-')
            ++r->at;
        if (!gpuinfo_is_digit_(*r->at))
            return gpuinfo_fail_(r, r->at);
        while (gpuinfo_is_digit_(*r->at))
            ++r->at;
    }
    return 1;
}

/* A whole number from 0 to max for a field of the record; any other JSON
 * value, or a number with a sign, fraction or exponent, is refused at its
 * first byte. */
static inline int gpuinfo_whole_number_(gpuinfo_reader_ *r, uint64_t max, uint64_t *out)
{
    const char *value = r->at;
    uint64_t n = 0;
    if (!gpuinfo_is_digit_(*r->at))
        return gpuinfo_fail_(r, value);
    if (*r->at == '0' && gpuinfo_is_digit_(r->at[1]))
        return gpuinfo_fail_(r, r->at + 1); /* JSON has no leading zeros */
    for (; gpuinfo_is_digit_(*r->at); ++r->at) {
        uint64_t digit = (uint64_t)(*r->at - '0');
        if (digit > max || n > (max - digit) / 10)
            return gpuinfo_fail_(r, value);
        n = n * 10 + digit;
    }
    if (*r->at == '.' || *r->at == 'e' || *r->at == 'E')
        return gpuinfo_fail_(r, value);
    *out = n;
    return 1;
}

static inline int gpuinfo_word_(gpuinfo_reader_ *r, const char *word)
{
    size_t n = strlen(word);
    if (strncmp(r->at, word, n) != 0)
        return gpuinfo_fail_(r, r->at);
    r->at += n;
    return 1;
}

/* Any JSON value, for the keys the record does not have. Iterative, with the
 * open containers as bits of `open` (1 for an object), so no input can run
 * the stack deep; `depth` containers are open around the value already. */
static inline int gpuinfo_skip_value_(gpuinfo_reader_ *r, int depth)
{
    gpuinfo_text_ nowhere = {NULL, 0, 0, 0};
    uint64_t open = 0;
    int inside = 0;
    for (;;) {
        int more = 0;
        gpuinfo_skip_space_(r);
        /* A value, or the end of the container just opened. */
        if (*r->at == '{' || *r->at == '[') {
            int object = *r->at == '{';
            if (depth + inside >= GPUINFO_REPORT_MAX_DEPTH_)
                return gpuinfo_fail_(r, r->at);
            open = open << 1 | (uint64_t)object;
            ++inside;
            ++r->at;
            gpuinfo_skip_space_(r);
            if (*r->at == (object ? '}' : ']')) {
                ++r->at;
                open >>= 1;
                --inside;
            } else if (object) {
                if (!gpuinfo_string_(r, &nowhere) || !gpuinfo_expect_(r, ':'))
                    return 0;
                continue;
            } else
                continue;
        } else if (*r->at == '"') {
            if (!gpuinfo_string_(r, &nowhere))
                return 0;
        } else if (*r->at == 't' || *r->at == 'f' || *r->at == 'n') {
            if (!gpuinfo_word_(r, *r->at == 't' ? "true" : *r->at == 'f' ? "false" : "null"))
                return 0;
        } else if (!gpuinfo_skip_number_(r))
            return 0;
        /* After a value: the next member or element, or containers closing. */
        while (inside > 0 && !more) {
            int object = (int)(open & 1);
            gpuinfo_skip_space_(r);
            if (*r->at == ',') {
                ++r->at;
                if (object && (!gpuinfo_string_(r, &nowhere) || !gpuinfo_expect_(r, ':')))
                    return 0;
                more = 1; /* a value follows */
            } else if (*r->at == (object ? '}' : ']')) {
                ++r->at;
                open >>= 1;
                --inside;
            } else
                return gpuinfo_fail_(r, r->at);
        }
        if (inside == 0)
            return 1;
    }
}

/* A key at r->at and its ':'; `key` gets it when it fits, else "". */
static inline int gpuinfo_key_(gpuinfo_reader_ *r, char key[GPUINFO_REPORT_KEY_BYTES_], size_t *length)
{
    gpuinfo_text_ t;
    t.to = key;
    t.size = GPUINFO_REPORT_KEY_BYTES_;
    t.length = 0;
    t.full = 0;
    if (!gpuinfo_string_(r, &t) || !gpuinfo_expect_(r, ':'))
        return 0;
    *length = t.full ? 0 : t.length;
    if (t.full)
        key[0] = '\0';
    return 1;
}

/* One adapter object into *a: every key of the record, unknown ones passed
 * over. A key missing is refused at the object's '}'. */
static inline int gpuinfo_adapter_(gpuinfo_reader_ *r, gpuinfo_adapter *a)
{
    static const char *const keys[GPUINFO_REPORT_FIELDS_] = {
        "index",           "name",           "vendor",          "vendor_id", "device_id", "dedicated_vram_mb",
        "shared_memory_mb", "driver_version", "software"};
    unsigned found = 0;
    char key[GPUINFO_REPORT_KEY_BYTES_];
    size_t length;
    int f;
    gpuinfo_skip_space_(r);
    if (*r->at != '{')
        return gpuinfo_fail_(r, r->at);
    ++r->at;
    gpuinfo_skip_space_(r);
    if (*r->at != '}')
        for (;;) {
            if (!gpuinfo_key_(r, key, &length))
                return 0;
            for (f = 0; f < GPUINFO_REPORT_FIELDS_; ++f)
                if (strlen(keys[f]) == length && memcmp(keys[f], key, length) == 0)
                    break;
            gpuinfo_skip_space_(r);
            if (f == 1 || f == 2 || f == 7) {
                gpuinfo_text_ t;
                t.to = f == 1 ? a->name : f == 2 ? a->vendor : a->driver_version;
                t.size = f == 1 ? sizeof a->name : f == 2 ? sizeof a->vendor : sizeof a->driver_version;
                t.length = 0;
                t.full = 0;
                if (*r->at != '"')
                    return gpuinfo_fail_(r, r->at); /* not a text */
                if (!gpuinfo_string_(r, &t))
                    return 0;
            } else if (f < GPUINFO_REPORT_FIELDS_) {
                uint64_t n = 0;
                uint64_t max = f == 0 ? 2147483647u : f == 3 || f == 4 ? 0xFFFFFFFFu : f == 8 ? 1u : UINT64_MAX;
                if (!gpuinfo_whole_number_(r, max, &n))
                    return 0;
                if (f == 0)
                    a->index = (int)n;
                else if (f == 3)
                    a->vendor_id = (uint32_t)n;
                else if (f == 4)
                    a->device_id = (uint32_t)n;
                else if (f == 5)
                    a->dedicated_vram_mb = n;
                else if (f == 6)
                    a->shared_memory_mb = n;
                else
                    a->software = (int)n;
            } else if (!gpuinfo_skip_value_(r, 3))
                return 0;
            if (f < GPUINFO_REPORT_FIELDS_)
                found |= 1u << f;
            gpuinfo_skip_space_(r);
            if (*r->at == ',') {
                ++r->at;
                continue;
            }
            if (*r->at != '}')
                return gpuinfo_fail_(r, r->at);
            break;
        }
    if (found != (1u << GPUINFO_REPORT_FIELDS_) - 1)
        return gpuinfo_fail_(r, r->at);
    ++r->at;
    return 1;
}

/* The array of "adapters": every one read and counted, the first `capacity`
 * kept. */
static inline int gpuinfo_adapters_(gpuinfo_reader_ *r, gpuinfo_adapter *out, int capacity, int *count)
{
    gpuinfo_adapter scratch;
    *count = 0;
    gpuinfo_skip_space_(r);
    if (*r->at != '[')
        return gpuinfo_fail_(r, r->at); /* not an array */
    ++r->at;
    gpuinfo_skip_space_(r);
    if (*r->at == ']')
        return ++r->at, 1;
    for (;;) {
        gpuinfo_skip_space_(r);
        if (*count == 2147483647)
            return gpuinfo_fail_(r, r->at);
        if (!gpuinfo_adapter_(r, *count < capacity ? &out[*count] : &scratch))
            return 0;
        ++*count;
        gpuinfo_skip_space_(r);
        if (*r->at == ',') {
            ++r->at;
            continue;
        }
        return gpuinfo_expect_(r, ']');
    }
}

static inline int gpuinfo_read_report(const char *json, gpuinfo_adapter *out, int capacity, size_t *error_offset)
{
    gpuinfo_reader_ r;
    char key[GPUINFO_REPORT_KEY_BYTES_];
    size_t length;
    int count = 0, found = 0, ok = 1;
    if (!out || capacity < 0)
        capacity = 0;
    for (count = 0; count < capacity; ++count)
        out[count].name[0] = out[count].vendor[0] = out[count].driver_version[0] = '\0';
    count = 0;
    if (!json) {
        if (error_offset)
            *error_offset = 0;
        return -1;
    }
    r.start = r.at = json;
    r.problem = NULL;
    if (!gpuinfo_expect_(&r, '{'))
        ok = 0;
    gpuinfo_skip_space_(&r);
    if (ok && *r.at != '}')
        for (;;) {
            if (!gpuinfo_key_(&r, key, &length))
                ok = 0;
            else if (length == 8 && memcmp(key, "adapters", 8) == 0) {
                found = 1;
                ok = gpuinfo_adapters_(&r, out, capacity, &count);
            } else
                ok = gpuinfo_skip_value_(&r, 1);
            gpuinfo_skip_space_(&r);
            if (!ok || *r.at != ',')
                break;
            ++r.at;
        }
    if (ok && (*r.at != '}' || !found))
        ok = gpuinfo_fail_(&r, r.at); /* at the '}' when "adapters" is missing */
    if (ok) {
        ++r.at;
        gpuinfo_skip_space_(&r);
        if (*r.at != '\0')
            ok = gpuinfo_fail_(&r, r.at);
    }
    if (ok)
        return count;
    if (error_offset)
        *error_offset = (size_t)(r.problem - r.start);
    return -1;
}

#ifdef __cplusplus
}
#endif

#endif /* QUILLMAR_GPUINFO_REPORT_H */
