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
 * The library never prints; errors reach the caller only as statuses.
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
    PAPIConnectionFailure = 1,
    PAPIAuthenticationFailure = 2,
    PAPINoSuchComponent = 3,
    PAPILdbFailure = 4, /* "Database error": a layer that cannot be read */
    PAPIInvalidArg = 5, /* also a stale, foreign or null handle */
    PAPIOutOfMemoryFailure = 6,
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
 * 2 removed (had layers, has none). */
typedef struct PAPIEvent {
    int type;
    const char* component;
} PAPIEvent;

enum { PAPIEventComponentAdded = 0, PAPIEventComponentModified = 1, PAPIEventComponentRemoved = 2 };

/* State of the connection to a remote service. The file store never calls the
 * state callback; the values are defined for backends that do. */
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
 * inside a callback of this handle the thread is detached instead). */
void papiDeinitialise(PAPI* handle, PAPIStatus* status);

/* The layers of a component, most general first; null with status 0 when the
 * component has none. Free the list with papiFreeLayerList. */
PAPILayerEntry* papiReadComponentLayers(PAPI* handle, const char* component, PAPIStatus* status);

/* Names of the components that have a layer for this entity, ascending,
 * filtered by prefix (an empty selector lists all). Free with papiFreeStringList. */
PAPINameEntry* papiListComponentNames(PAPI* handle, const char* selector, PAPIStatus* status);

/* Both accept null. */
void papiFreeLayerList(PAPILayerEntry* list);
void papiFreeStringList(PAPINameEntry* list);

/* Calls listener for every change of the component, on a watcher thread of
 * the handle, one callback at a time, with no lock of libvesk held.
 * Returns the handle to pass to papiRemoveListener. */
PAPIListenerId papiAddListener(PAPI* handle, const char* component, PAPIListener listener,
                               void* userData, PAPIStatus* status);

/* After it returns the listener is never called again for this id: it waits
 * for a callback in progress, except when called from inside that callback.
 * The caller must therefore not hold, across papiRemoveListener or
 * papiDeinitialise, a lock that its callback takes. */
void papiRemoveListener(PAPI* handle, PAPIListenerId listenerId, PAPIStatus* status);

#ifdef __cplusplus
}
#endif

#endif /* VESK_PAPI_H */
