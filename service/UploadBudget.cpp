#include "UploadBudget.h"

UploadBudget::Grant UploadBudget::take(int64_t account, size_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (uploading[account] >= limits.perAccount) // an account's own uploads come before the service's room
        return {nullptr, Refusal::account};
    if (bytes > limits.bytes - used) {
        if (uploading[account] == 0)
            uploading.erase(account);
        return {nullptr, Refusal::service};
    }
    ++uploading[account];
    used += bytes;
    return {std::shared_ptr<void>(nullptr, [this, account, bytes](void*) { giveBack(account, bytes); }),
            Refusal::none};
}

void UploadBudget::giveBack(int64_t account, size_t bytes)
{
    std::lock_guard<std::mutex> lock(mutex);
    used -= bytes;
    if (--uploading[account] == 0)
        uploading.erase(account);
}
