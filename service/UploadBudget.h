#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

// Room for large request bodies while they are received and handled: each takes its announced length
// from one budget for the whole service and one of a few places of its account, so memory for bodies
// stays bounded whatever lengths are announced and one account cannot hold it all.
class UploadBudget {
public:
    struct Limits {
        size_t bytes = 256u << 20;
        size_t perAccount = 2;
    };
    enum class Refusal { none, account, service };
    struct Grant {
        std::shared_ptr<void> hold; // the room, given back when its last copy goes
        Refusal refusal = Refusal::none;
    };

    explicit UploadBudget(Limits limits) : limits(limits) {}
    Grant take(int64_t account, size_t bytes);

private:
    void giveBack(int64_t account, size_t bytes);

    const Limits limits;
    std::mutex mutex;
    size_t used = 0;
    std::map<int64_t, size_t> uploading;
};
