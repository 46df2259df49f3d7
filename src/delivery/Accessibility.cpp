#include "delivery/Accessibility.h"

#include "state/Log.h"

Accessibility::Accessibility(AccessibilityTrust& trust) : trust(trust) {}

bool Accessibility::isTrusted() { return trust.isTrusted(); }

void Accessibility::openSettings() { logNothingToGrant(); }

void Accessibility::resetAndReprompt() { logNothingToGrant(); }

void Accessibility::logNothingToGrant()
{
    if (trust.isWayland())
        Log::write(QStringLiteral("辅助功能：Wayland 会话不能模拟按键，请改用「零权限」粘贴方式"));
    else
        Log::write(QStringLiteral("辅助功能：Linux 上不需要授权"));
}
