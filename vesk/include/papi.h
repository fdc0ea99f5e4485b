// SPDX-License-Identifier: LGPL-2.1-or-later
/* Client interface of the policy service (libvesk): reads the ordered layers of a
 * configuration component for an entity and reports changes of a component.
 *
 *   PAPIStatus st = 0;
 *   PAPI* h = papiInitialise(NULL, &st);              // the current user
 *   PAPILayerEntry* layers = papiReadComponentLayers(h, "org.example", &st);
 *   for (PAPILayerEntry* l = layers; l; l = l->next) use(l->data, l->size);
 *   papiFreeLayerList(layers);
 *   papiDeinitialise(h, &st);
 *
 * Every call takes the address of a status variable last and writes the call's
 * status there (0 on success). A call that fails returns no list and no handle.
 * The library never prints; errors reach the caller as statuses, and
 * papiGetFailureDetail says what failed and why. Policy it has to leave out
 * without failing a call (a scope whose name cannot be one) is named in a
 * warning in the system log ("libvesk: ..."), under the program's label.
 *
 * The file store: layers are files <store>/<scope>/<component>.xml, where
 * <store> is $VESK_POLICY_STORE or, when that is unset or empty, the path
 * fixed at build time (/etc/vesk/store unless configured otherwise). The
 * scopes of an entity, most general first, each only where its file exists:
 *   current user:   default, groups/<group> (each group of the user, in
 *                   ascending byte order), hosts/<hostname>, users/<user>
 *   other entities: default, hosts/<hostname>, entities/<connection string>
 * User and groups come from the process's uid, never from the environment.
 * A user, group or host name that cannot be one path element (empty, ".",
 * "..", containing "/") has no scope: that scope is left out with a warning,
 * and the rest of the stack applies. A store folder that is missing when the
 * handle is opened is no failure: reads fail with status 1 until it exists.
 *
 * The directory: when $VESK_POLICY_STORE is ldap://host[:port]/<base DN>
 * (or ldaps://, ldapi://; several servers separated by spaces, the base DN
 * once, tried in turn), the same stacks are read from an LDAP directory
 * laid out like the store below the base DN: ou=default, cn=<group>,ou=groups,
 * cn=<host>,ou=hosts, uid=<user>,ou=users, cn=<entity>,ou=entities, each layer
 * an entry cn=<component> holding its bytes in veskLayerData (schema and
 * details in vesk/ldap/README.md). It binds anonymously, with
 * $VESK_LDAP_BINDDN and the password in $VESK_LDAP_PASSWORD_FILE (a file only
 * its owner can read), or over ldapi:// with SASL EXTERNAL. TLS (ldaps://,
 * or StartTLS with $VESK_LDAP_STARTTLS=1) demands a certificate that verifies
 * against $VESK_LDAP_CACERT or ldap.conf's TLS_CACERT; one that does not is
 * an unreachable server. Statuses, stamps and change events are those of the
 * file store; a directory that cannot be reached when the handle is opened
 * is no failure: reads fail with status 1 until it answers.
 */
#ifndef VESK_PAPI_H
#define VESK_PAPI_H

#ifdef __cplusplus
extern "C" {
#endif

/* Status codes. The file store never returns PAPINoSuchComponent: a component
 * without layers is a null list with status 0. */
typedef int PAPIStatus;
enum {
    PAPISuccess = 0,
    /* The store is missing or unreadable, or the directory or its base entry
     * cannot be reached, at a read: never reported as "no
     * layers", which would read as all policy removed. */
    PAPIConnectionFailure = 1,
    /* The process's uid has no user entry; the directory refuses the bind,
     * or the password file is missing, empty or readable by others. */
    PAPIAuthenticationFailure = 2,
    PAPINoSuchComponent = 3,
    /* "Database error": a layer that exists but cannot be read (any error but
     * ENOENT, a dangling symlink, not a regular file, or larger than 64 MiB;
     * in a directory an entry in a layer's place that is no veskLayer with
     * one value). */
    PAPILdbFailure = 4,
    /* A stale, foreign or null handle or listener id, a null callback, or a
     * name that cannot be one path element (empty, ".", "..", containing "/")
     * as component or connection string; nothing is read then. */
    PAPIInvalidArg = 5,
    PAPIOutOfMemoryFailure = 6,
    /* Also: a change watch or the watcher thread could not be set up. */
    PAPIUnknownFailure = 7
};

/* An open connection to the policy service for one entity. */
typedef struct PAPI PAPI;

/* One layer, most general first. data holds exactly size bytes and is NOT
 * NUL-terminated. stamp is NUL-terminated and says where the layer came from
 * (for the file store: scope and modification time, "users/alice 1733500000"). */
typedef struct PAPILayerEntry {
    char* data;
    int size;
    char* stamp;
    struct PAPILayerEntry* next;
} PAPILayerEntry;

typedef struct PAPINameEntry {
    char* name;
    struct PAPINameEntry* next;
} PAPINameEntry;

/* Change event: type 0 component added (had no layers, has some), 1 modified,
 * 2 removed (had layers, has none). component is valid during the callback. */
typedef struct PAPIEvent {
    int type;
    const char* component;
} PAPIEvent;

enum { PAPIEventComponentAdded = 0, PAPIEventComponentModified = 1, PAPIEventComponentRemoved = 2 };

/* State of the connection to a remote service. The file store never calls the
 * state callback. The directory calls it on the watcher thread of a handle
 * with listeners, like a change listener: PAPIDisconnected when the
 * connection of its change search drops or cannot be made when the first
 * listener is added, PAPIConnected when it is back. */
typedef enum PAPIConnectionState { PAPIConnected = 0, PAPIDisconnected = 1 } PAPIConnectionState;

typedef void (*PAPIConnectionListener)(PAPIConnectionState state, void* userData);
typedef void (*PAPIListener)(const PAPIEvent* event, void* userData);
typedef void* PAPIListenerId;

/* Opens the service for an entity. A null or empty text is the current user
 * (identified by the process's uid); any other text names another entity
 * (for example "kiosk.default"). */
PAPI* papiInitialise(const char* connectionString, PAPIStatus* status);
PAPI* papiInitialiseWithListener(const char* connectionString, PAPIConnectionListener listener,
                                 void* userData, PAPIStatus* status);

/* Closes the handle: stops change delivery and joins the watcher thread (from
 * inside a callback of this handle the thread is detached instead and ends
 * when the callback returns). No callback of the handle starts afterwards.
 * A process may also exit with handles open. */
void papiDeinitialise(PAPI* handle, PAPIStatus* status);

/* The layers of a component, most general first; null with status 0 when the
 * component has none. Free the list with papiFreeLayerList. */
PAPILayerEntry* papiReadComponentLayers(PAPI* handle, const char* component, PAPIStatus* status);

/* The same layers without a list: each is handed to sink in turn, most
 * general first, once all were read. data holds exactly size bytes (not
 * NUL-terminated) and, like stamp, is valid during that call only, so a
 * caller that keeps a layer copies it once, straight into its own storage.
 * A sink that returns non-zero gets no further layer; the status stays 0.
 * Nothing is handed over when the read fails. */
typedef int (*PAPILayerSink)(const char* data, int size, const char* stamp, void* userData);
void papiReadComponentLayersInto(PAPI* handle, const char* component, PAPILayerSink sink,
                                 void* userData, PAPIStatus* status);

/* Names of the components that have a layer for this entity, ascending,
 * filtered by prefix (an empty or null selector lists all). Free with
 * papiFreeStringList. */
PAPINameEntry* papiListComponentNames(PAPI* handle, const char* selector, PAPIStatus* status);

/* Both accept null. */
void papiFreeLayerList(PAPILayerEntry* list);
void papiFreeStringList(PAPINameEntry* list);

/* Calls listener for every change of the component, on a watcher thread of
 * the handle, one callback at a time, with no lock of libvesk held: the
 * callback may read layers and add or remove listeners on the same handle.
 * A change is a layer file of the component written and closed, created
 * (also linked into place), renamed into or out of place, removed, or given
 * other permissions, in any scope of the stack, also in scope folders created
 * or made readable after this call; for a layer that is a symlink, also a
 * change of its target. A file read while it is still being written may not
 * parse; its close brings another event. The first change after a quiet spell
 * of about 100 ms is delivered at once; the rest of its burst gives one more
 * event per component once the files have been quiet for about 100 ms again,
 * and at most 1 s after its first change. If the kernel drops change notices,
 * every watched component gets an event. The store folder need not exist
 * when the listener is added; while it is missing or unreadable nothing is
 * reported (reads fail with status 1), and when it is back every listened
 * component gets one event.
 * A directory is watched with one persistent search per handle; it need not
 * be reachable when the listener is added. After a lost connection it
 * reconnects (to the next server of the list first) with pauses growing to
 * 1-3 s, and then delivers one event for each component whose layers changed
 * meanwhile, and for each whose layers could not be looked at.
 * Returns the handle to pass to papiRemoveListener; fails with a status when
 * the watch or its thread cannot be set up (for a directory: 2 when it
 * refuses the bind, 7 when it cannot synchronise). */
PAPIListenerId papiAddListener(PAPI* handle, const char* component, PAPIListener listener,
                               void* userData, PAPIStatus* status);

/* After it returns the listener is never called again for this id: it waits
 * for a callback in progress, except when called from inside that callback.
 * The caller must therefore not hold, across papiRemoveListener or
 * papiDeinitialise, a lock that its callback takes. */
void papiRemoveListener(PAPI* handle, PAPIListenerId listenerId, PAPIStatus* status);

/* 1 when the handle's listeners learn of changes by a check of the store on a
 * timer (every 2 s, where the file store could set up no inotify watch),
 * 0 when changes are told as they happen or nobody listens yet. */
int papiIsPolling(PAPI* handle, PAPIStatus* status);

/* What the last failed call on the handle was about, in words: the file,
 * folder or URL and the system's or the network's reason, for example
 * "/etc/vesk/store/default/org.example.xml: Permission denied" or
 * "ldap://127.0.0.1:38999: Can't contact LDAP server (Connection refused)".
 * With a null handle: the last failed papiInitialise on the calling thread.
 * Copies at most size - 1 bytes and a NUL into buffer (which may be null when
 * size is 0) and returns the length of the whole text, 0 when nothing failed
 * yet. A later successful call leaves the text as it was. */
int papiGetFailureDetail(PAPI* handle, char* buffer, int size, PAPIStatus* status);

#ifdef __cplusplus
}
#endif

#endif /* VESK_PAPI_H */
