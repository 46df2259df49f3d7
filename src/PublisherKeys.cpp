// The publishers' keys compiled into this program (base64 of the raw Ed25519 keys, separated by commas):
// an update is installed only when one of them signed it.
extern const char* const publisherKeys;
const char* const publisherKeys = TARNEL_UPDATE_KEYS;
