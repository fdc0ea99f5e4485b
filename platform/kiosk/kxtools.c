// SPDX-License-Identifier: LGPL-2.1-or-later
/* The stand-in kiosk tools run as root on files that a group may write, so
 * everything they read is parsed as data: no file is sourced, no link followed,
 * and a table is replaced only by a complete new one. */
#define _GNU_SOURCE
#include "kxtools.h"

#include "output/ReplaceFile.h"

#include <ctype.h>
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* Larger settings files or tables are not ours. */
enum { kxMaxFileSize = 1 << 20 };

struct kx_buffer {
    char* data;
    size_t len;
    size_t cap;
};

static int buffer_append(struct kx_buffer* b, const char* text, size_t len) {
    if (b->len + len + 1 > b->cap) {
        size_t cap = b->cap ? b->cap : 256;
        while (cap < b->len + len + 1)
            cap *= 2;
        char* data = realloc(b->data, cap);
        if (!data)
            return -1;
        b->data = data;
        b->cap = cap;
    }
    memcpy(b->data + b->len, text, len);
    b->len += len;
    b->data[b->len] = '\0';
    return 0;
}

static int buffer_append_str(struct kx_buffer* b, const char* text) {
    return buffer_append(b, text, strlen(text));
}

const char* kx_take_root(int* argc, char*** argv) {
    if (*argc >= 3 && strcmp((*argv)[1], "--root") == 0) {
        const char* root = (*argv)[2];
        (*argv)[2] = (*argv)[0];
        *argv += 2;
        *argc -= 2;
        return root;
    }
    return "";
}

static char* join_path(const char* root, const char* path) {
    size_t len = strlen(root) + strlen(path) + 1;
    char* out = malloc(len);
    if (out)
        snprintf(out, len, "%s%s", root, path);
    return out;
}

static int is_name_start(char c) {
    return c == '_' || isalpha((unsigned char)c);
}

static int is_safe_value_char(char c) {
    unsigned char u = (unsigned char)c;
    return u >= 0x20 && u != 0x7f && c != '"' && c != '\\' && c != '$' && c != '`';
}

/* 1 when line (without its line feed) is name="value" with a name of
 * [A-Za-z_][A-Za-z0-9_]* and a value free of quotes, backslashes, "$",
 * backquotes and control characters, which is all a tool may take as text. */
static int kx_parse_setting(const char* line, size_t len, size_t* name_len, const char** value,
                            size_t* value_len) {
    size_t i = 0;
    if (len == 0 || !is_name_start(line[0]))
        return 0;
    while (i < len && (is_name_start(line[i]) || isdigit((unsigned char)line[i])))
        ++i;
    /* name, '=', '"', value, '"' */
    if (i + 3 > len || line[i] != '=' || line[i + 1] != '"' || line[len - 1] != '"')
        return 0;
    for (size_t j = i + 2; j < len - 1; ++j) {
        if (!is_safe_value_char(line[j]))
            return 0;
    }
    *name_len = i;
    *value = line + i + 2;
    *value_len = len - i - 3;
    return 1;
}

/* A file name of the configuration directory that may stand in the table;
 * a leading "#" would make its line a comment. */
static int is_safe_file_name(const char* name) {
    if (!*name || *name == '#' || strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
        return 0;
    for (const char* p = name; *p; ++p) {
        unsigned char u = (unsigned char)*p;
        if (u < 0x20 || u == 0x7f || *p == '"' || *p == '/')
            return 0;
    }
    return 1;
}

/* Reads a regular file (never a link) of at most kxMaxFileSize bytes. */
static int read_file_at(int dirfd, const char* name, struct kx_buffer* out) {
    int fd = openat(dirfd, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kxMaxFileSize) {
        close(fd);
        errno = EINVAL;
        return -1;
    }
    char chunk[4096];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (n > 0 && (out->len + (size_t)n > kxMaxFileSize ||
                                buffer_append(out, chunk, (size_t)n) != 0))) {
            close(fd);
            if (n >= 0)
                errno = EFBIG;
            return -1;
        }
        if (n == 0)
            break;
    }
    close(fd);
    return 0;
}

/* Writes data to path through the system's one file writer, so readers see
 * the old file or the complete new one; a link at path is replaced, never
 * followed, and a new file gets mode 0644. */
static int write_atomically(const char* path, const char* data, size_t len) {
    return hollin_replace_file(path, data, len, 0644, 0, NULL, 0);
}

/* 1 for a variable that a shell reading the file would act on. */
static int is_shell_variable(const char* name, size_t len) {
    static const char* const variables[] = {
        "PATH",      "IFS",      "ENV", "BASH_ENV",       "CDPATH", "GLOBIGNORE",
        "SHELLOPTS", "BASHOPTS", "PS4", "PROMPT_COMMAND", "HOME",   "SHELL"};
    for (size_t i = 0; i < sizeof variables / sizeof *variables; ++i) {
        if (strlen(variables[i]) == len && strncmp(name, variables[i], len) == 0)
            return 1;
    }
    return len >= 3 && strncmp(name, "LD_", 3) == 0;
}

/* Appends one table line for a settings file, or returns 0 with a reason. */
static int table_line(const char* file, const struct kx_buffer* text, struct kx_buffer* table,
                      const char** reason) {
    if (!is_safe_file_name(file)) {
        *reason = "unsafe file name";
        return 0;
    }
    if (text->len == 0 || text->data[text->len - 1] != '\n') {
        *reason = "missing final line feed";
        return 0;
    }
    if (memchr(text->data, '\0', text->len)) {
        *reason = "NUL byte";
        return 0;
    }
    struct kx_buffer line = {0};
    int has_path = 0, has_name = 0, ok = buffer_append_str(&line, file) == 0;
    const char* start = text->data;
    const char* end = text->data + text->len;
    while (ok && start < end) {
        const char* nl = memchr(start, '\n', (size_t)(end - start));
        size_t name_len, value_len;
        const char* value;
        if (!kx_parse_setting(start, (size_t)(nl - start), &name_len, &value, &value_len)) {
            *reason = "line is not name=\"value\"";
            ok = 0;
            break;
        }
        if (is_shell_variable(start, name_len)) {
            *reason = "setting of a shell variable";
            ok = 0;
            break;
        }
        /* The last one counts, as for the importer and a shell reading the file. */
        if (name_len == 7 && strncmp(start, "pathapp", 7) == 0)
            has_path = value_len > 0;
        if (name_len == 4 && strncmp(start, "name", 4) == 0)
            has_name = 1;
        ok = buffer_append(&line, "\t", 1) == 0 && buffer_append(&line, start, name_len) == 0 &&
             buffer_append(&line, "=", 1) == 0 && buffer_append(&line, value, value_len) == 0;
        if (!ok)
            *reason = "out of memory";
        start = nl + 1;
    }
    if (ok && (!has_path || !has_name)) {
        *reason = has_path ? "no name" : "no pathapp";
        ok = 0;
    }
    if (ok &&
        (buffer_append(table, line.data, line.len) != 0 || buffer_append(table, "\n", 1) != 0)) {
        *reason = "out of memory";
        ok = 0;
    }
    free(line.data);
    return ok;
}

static int compare_names(const void* a, const void* b) {
    return strcmp(*(char* const*)a, *(char* const*)b);
}

/* Collects the entry names of the directory, sorted. */
static int list_directory(int dirfd, char*** names, size_t* count) {
    int dup_fd = dup(dirfd);
    if (dup_fd < 0)
        return -1;
    DIR* dir = fdopendir(dup_fd);
    if (!dir) {
        close(dup_fd);
        return -1;
    }
    size_t cap = 0;
    struct dirent* entry;
    int failed = 0;
    errno = 0;
    while (!failed && (entry = readdir(dir)) != NULL) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
            continue;
        if (*count == cap) {
            cap = cap ? cap * 2 : 16;
            char** grown = realloc(*names, cap * sizeof **names);
            if (!grown) {
                failed = 1;
                break;
            }
            *names = grown;
        }
        if (!((*names)[*count] = strdup(entry->d_name))) {
            failed = 1;
            break;
        }
        ++*count;
        errno = 0;
    }
    if (!failed && errno != 0)
        failed = 1;
    closedir(dir);
    if (!failed && *count)
        qsort(*names, *count, sizeof **names, compare_names);
    return failed ? -1 : 0;
}

int kx_generate_table(const char* root, int missing_ok) {
    char* dir_path = join_path(root, KX_CONFIG_DIR);
    char* table_path = join_path(root, KX_TABLE_FILE);
    struct kx_buffer table = {0};
    char** names = NULL;
    size_t count = 0;
    int status = 1;
    if (!dir_path || !table_path ||
        buffer_append_str(&table, "# kiosk applications, generated by kxgentab\n") != 0) {
        fprintf(stderr, "kxgentab: out of memory\n");
        goto out;
    }
    int dirfd = open(dir_path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirfd < 0 && !(errno == ENOENT && missing_ok)) {
        fprintf(stderr, "kxgentab: %s: %s\n", dir_path, strerror(errno));
        goto out;
    }
    if (dirfd >= 0) {
        int listed = list_directory(dirfd, &names, &count);
        if (listed != 0)
            fprintf(stderr, "kxgentab: %s: %s\n", dir_path, strerror(errno));
        for (size_t i = 0; listed == 0 && i < count; ++i) {
            struct kx_buffer text = {0};
            const char* reason = NULL;
            if (read_file_at(dirfd, names[i], &text) != 0) {
                fprintf(stderr, "kxgentab: %s/%s: %s\n", dir_path, names[i], strerror(errno));
                listed = -1;
            } else if (!table_line(names[i], &text, &table, &reason)) {
                fprintf(stderr, "kxgentab: %s/%s: %s\n", dir_path, names[i], reason);
                listed = -1;
            }
            free(text.data);
        }
        close(dirfd);
        if (listed != 0)
            goto out;
    }
    if (write_atomically(table_path, table.data, table.len) != 0) {
        fprintf(stderr, "kxgentab: %s: %s\n", table_path, strerror(errno));
        goto out;
    }
    status = 0;
out:
    for (size_t i = 0; i < count; ++i)
        free(names[i]);
    free(names);
    free(table.data);
    free(dir_path);
    free(table_path);
    return status;
}

/* One table line: file, then tab-separated name=value fields. Appends
 * "name<TAB>pathapp\n" to the active list. */
static int import_line(const char* line, size_t len, struct kx_buffer* active) {
    const char* end = line + len;
    const char* field = memchr(line, '\t', len);
    const char *name = NULL, *path = NULL;
    size_t name_len = 0, path_len = 0;
    if (!field || field == line)
        return 0;
    for (const char* p = line; p < field; ++p) {
        unsigned char u = (unsigned char)*p;
        if (u < 0x20 || u == 0x7f || *p == '"' || *p == '/')
            return 0;
    }
    while (field < end) {
        const char* start = field + 1;
        const char* stop = memchr(start, '\t', (size_t)(end - start));
        if (!stop)
            stop = end;
        const char* eq = memchr(start, '=', (size_t)(stop - start));
        if (!eq || eq == start || !is_name_start(*start))
            return 0;
        for (const char* p = start; p < eq; ++p) {
            if (!is_name_start(*p) && !isdigit((unsigned char)*p))
                return 0;
        }
        for (const char* p = eq + 1; p < stop; ++p) {
            if (!is_safe_value_char(*p))
                return 0;
        }
        if (eq - start == 4 && strncmp(start, "name", 4) == 0) {
            name = eq + 1;
            name_len = (size_t)(stop - name);
        } else if (eq - start == 7 && strncmp(start, "pathapp", 7) == 0) {
            path = eq + 1;
            path_len = (size_t)(stop - path);
        }
        field = stop;
    }
    if (!name || !path || path_len == 0)
        return 0;
    return buffer_append(active, name, name_len) == 0 && buffer_append(active, "\t", 1) == 0 &&
           buffer_append(active, path, path_len) == 0 && buffer_append(active, "\n", 1) == 0;
}

int kx_import_table(const char* root, const char* profile) {
    char* table_path = join_path(root, KX_TABLE_FILE);
    char* active_path = join_path(root, KX_ACTIVE_FILE);
    struct kx_buffer table = {0}, active = {0};
    int status = 1;
    if (!table_path || !active_path) {
        fprintf(stderr, "kxkiosk: out of memory\n");
        goto out;
    }
    if (strcmp(profile, "kiosk") != 0) {
        fprintf(stderr, "kxkiosk: unknown profile %s\n", profile);
        goto out;
    }
    if (read_file_at(AT_FDCWD, table_path, &table) != 0) {
        fprintf(stderr, "kxkiosk: %s: %s\n", table_path, strerror(errno));
        goto out;
    }
    if (buffer_append_str(&active, "# active kiosk applications, profile kiosk\n") != 0)
        goto out;
    if (table.len > 0 && (table.data[table.len - 1] != '\n' || memchr(table.data, 0, table.len))) {
        fprintf(stderr, "kxkiosk: %s: damaged table\n", table_path);
        goto out;
    }
    for (const char* line = table.data; table.len > 0 && line < table.data + table.len;) {
        const char* nl = memchr(line, '\n', (size_t)(table.data + table.len - line));
        size_t len = (size_t)(nl - line);
        if (line[0] != '#' && !import_line(line, len, &active)) {
            fprintf(stderr, "kxkiosk: %s: damaged line %.*s\n", table_path, (int)len, line);
            goto out;
        }
        line = nl + 1;
    }
    if (write_atomically(active_path, active.data, active.len) != 0) {
        fprintf(stderr, "kxkiosk: %s: %s\n", active_path, strerror(errno));
        goto out;
    }
    status = 0;
out:
    free(table.data);
    free(active.data);
    free(table_path);
    free(active_path);
    return status;
}

int kx_print_admin_gid(const char* root) {
    char* conf_path = join_path(root, KX_ADMIN_GROUP_FILE);
    struct kx_buffer text = {0};
    int status = 1;
    if (!conf_path)
        goto out;
    if (read_file_at(AT_FDCWD, conf_path, &text) != 0) {
        if (errno != ENOENT) {
            fprintf(stderr, "kxadmingid: %s: %s\n", conf_path, strerror(errno));
            goto out;
        }
        printf("0\n");
        status = 0;
        goto out;
    }
    /* The first line, without surrounding blanks, names the group. */
    char none[1] = "";
    char* group = text.data ? text.data : none;
    group[strcspn(group, "\n")] = '\0';
    while (isspace((unsigned char)*group))
        ++group;
    size_t len = strlen(group);
    while (len > 0 && isspace((unsigned char)group[len - 1]))
        group[--len] = '\0';
    if (len == 0) {
        printf("0\n");
        status = 0;
        goto out;
    }
    if (strspn(group, "0123456789") == len && len <= 9) {
        printf("%ld\n", strtol(group, NULL, 10));
        status = 0;
        goto out;
    }
    struct group* entry = getgrnam(group);
    if (!entry) {
        fprintf(stderr, "kxadmingid: unknown group %s\n", group);
        goto out;
    }
    printf("%lu\n", (unsigned long)entry->gr_gid);
    status = 0;
out:
    free(text.data);
    free(conf_path);
    if (status == 0 && fflush(stdout) != 0)
        status = 1;
    return status;
}
