// The device check: attach the speaker (discovery as fallback), read its firmware version
// and what it needs repaired; CWizardFlow turns the result into the current mode.
#include "CDlgBase.h"

#include "WindowMessages.h"

#include "Backup.h"
#include "Discovery.h"
#include "FWUpdateInterface.h"
#include "Status.h"
#include "UpdateManager.h"

#include <cstdio>

namespace status = dormane::status;

unsigned CDlgBase::CheckDeviceThreadProc(CDlgBase* dialog) {
    // Still attached when the check page is reached again from the mode page.
    if (dialog->m_pUpdate && dialog->m_bAttached) {
        dialog->m_pUpdate->DetachDevice();
        dialog->m_bAttached = false;
    }
    const int result = dialog->CheckDevice();
    PostMessage(dialog, WM_CHECK_DONE, result, 0);
    return 0;
}

int CDlgBase::CheckDevice() {
    if (!m_pUpdate)
        return status::kFailure;
    m_flow.ResetCheck();
    int result = m_pUpdate->AttachDevice(kVendorId, kDefaultProductId);
    // A busy speaker has been found already; another attach would only wait for it again.
    if (result != status::kSuccess && result != status::kSpeakerBusy &&
        FindUsbSpeaker(m_wPid, m_strVersionText) == 1)
        result = m_pUpdate->AttachDevice(kVendorId, m_wPid);
    if (result == status::kSuccess) {
        m_bAttached = true;
        NoteDamage();
        uint16_t word = 0;
        result = m_pUpdate->GetFWVersion(&word);
        if (result == status::kSuccess) {
            char text[8];
            std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(word));
            m_strFwVersion = text;
        }
    }
    // Visible only when standard output is redirected.
    std::printf("%d", result);
    std::fflush(stdout);
    return result;
}

int CDlgBase::FindUsbSpeaker(uint16_t& pid, std::string& versionText) {
    return dormane::FindUsbSpeaker(pid, versionText);
}

void CDlgBase::NoteDamage() {
    const UpdateManager* core = m_pUpdate ? m_pUpdate->Core() : nullptr;
    if (!core)
        return;
    // No valid image (a burn that was cut off): the speaker is damaged, not unsupported.
    m_bDamaged = core->EepromBroken();
    const auto& left = core->LeftJournal();
    m_bUnfinishedBurn = left.has_value();
    // The setting to offer for the repair: what the backup saved before the unfinished burn
    // holds, else the newest backup of this speaker.
    if (left && left->backupFw != 0)
        m_wRepairFw = left->backupFw;
    else if (const auto newest =
                 dormane::backup::NewestBackup(core->AttachedVid(), core->AttachedPid()))
        m_wRepairFw = newest->fwVersion;
}
