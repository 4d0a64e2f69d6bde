#include "UpdateManager.h"

#include "FileSystem.h"

#include "Backup.h"
#include "BurnShield.h"
#include "Log.h"
#include "SleepInhibitor.h"
#include "Status.h"
#include "Transport.h"

#include <cstring>
#include <ctime>
#include <new>
#include <system_error>

using namespace dormane;

namespace {

// Sizes tried in this order; position S of an S-byte EEPROM reads position 0. The first
// entry is 0, so a match there counts as no EEPROM.
constexpr uint32_t kCandidateSizes[] = {0,      0x100,  0x200,  0x400,  0x800,
                                        0x1000, 0x2000, 0x4000, 0x8000, 0x10000};
constexpr uint8_t kProbeBytes = 6;
constexpr uint32_t kInitialTransportSize = 4096;
constexpr uint8_t kChipRevisionString = 50;
constexpr int kProgressSteps = 100;
// Putting back the bytes the size probe overwrote is retried like any write: an EEPROM left
// with the marker holds no image the speaker can start from.
constexpr int kRestoreAttempts = 4;

uint16_t ChipVerFromString(const std::string& s) {
    if (s == "5023B")
        return 0;
    if (s == "5023C")
        return 1;
    return kChipVerUnknown;
}

size_t Utf8Length(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        n += (c & 0xC0) != 0x80;
    return n;
}

} // namespace

UpdateManager::UpdateManager() : m_nBurnState(status::kBurnIdle) {}

UpdateManager::~UpdateManager() {
    // The burn thread works on this object until it ends; a half-written EEPROM is worse than
    // a late exit.
    if (m_burnThread.joinable())
        m_burnThread.join();
}

void UpdateManager::SetState(int state) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_nBurnState = state;
}

void UpdateManager::SetProgress(int progress) {
    std::lock_guard<std::mutex> lock(m_lock);
    m_nBurnProgress = progress;
}

bool UpdateManager::BurnRunning() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nBurnState == status::kBurnRunning;
}

std::string UpdateManager::LastBackupPath() const {
    return m_strLastBackup;
}

// Returns true while a burn runs; otherwise collects a burn thread that has finished, so that
// its last writes are seen before the caller touches the transport or the file image.
bool UpdateManager::BusyOrCollect() {
    if (BurnRunning())
        return true;
    if (m_burnThread.joinable())
        m_burnThread.join();
    return false;
}

int UpdateManager::Initialize() {
    const int result = rmInitialize() ? status::kSuccess : status::kFailure;
    WriteLog("UpdateManager::Initialize  return 0x%X", result);
    return result;
}

int UpdateManager::AttachDevice(int vidArg, int pidArg) {
    if (BusyOrCollect())
        return status::kFailure;
    const uint16_t vid = static_cast<uint16_t>(vidArg);
    const uint16_t pid = static_cast<uint16_t>(pidArg);

    m_bEepromBroken = false;
    m_deviceImage.Reset();
    m_rawEeprom.reset();
    m_nRawEepromSize = 0;
    m_hHid.reset(); // a new attach releases the previous one
    m_bRestoreFailed = false;
    m_leftJournal.reset();
    m_strJournalKey.clear();
    m_wAttachedVid = vid;
    m_wAttachedPid = pid;

    bool started = rmDeviceStart(vid, pid) != 0;
    WriteLog("UpdateManager::AttachDevice  rmDeviceStart VID =0x%X PID =0x%X, return %d", vid, pid,
             started ? 1 : 0);
    // The size detection may write the EEPROM, and what it reads must not be half of
    // another program's burn.
    std::unique_ptr<SpeakerLock> lock;
    if (started) {
        if (const int locked = LockSpeaker("AttachDevice", lock); locked != status::kSuccess) {
            WriteLog("UpdateManager::AttachDevice return 0x%X", locked);
            return locked;
        }
    }
    if (started) {
        if (const UsbDeviceInfo* selected = rmSelectedDevice())
            m_strJournalKey = selected->journalKey;
        m_deviceImage.VID = vid;
        m_deviceImage.PID = pid;
        const uint32_t size = DetectEEPSize();
        WriteLog("UpdateManager::AttachDevice eeprom size %d", static_cast<int>(size));
        if (size == 0 || m_bRestoreFailed)
            started = false;

        const int r = ReadFWInfoDevice(&m_deviceImage);
        if (r == status::kFailure) {
            started = false;
        } else if (r != status::kSuccess) {
            m_bEepromBroken = true;
            // An extension block whose first byte failed the check may still have been read
            // into the record: its chip revision is no revision, only string 50 can tell.
            m_deviceImage.ChipVer = kChipVerUnknown;
            // Keep the whole EEPROM as it is now: the backup before a burn needs it, and
            // there is no valid image to save instead.
            if (size != 0)
                ReadWholeEeprom(m_rawEeprom, m_nRawEepromSize);
        }

        if (FindHIDDevice(m_hHid, vid, pid) && m_hHid) {
            std::string revision;
            if (m_hHid->ReadString(kChipRevisionString, revision) == UsbResult::Ok) {
                WriteLog("UpdateManager::AttachDevice string50 =%s %d", revision.c_str(),
                         static_cast<int>(Utf8Length(revision)));
                m_deviceImage.ChipVer = ChipVerFromString(revision);
            }
        }
        FindJournal();
    }
    lock.reset();
    const int result =
        started && m_deviceImage.ChipVer != kChipVerUnknown ? status::kSuccess : status::kNoDevice;
    WriteLog("UpdateManager::AttachDevice return 0x%X", result);
    return result;
}

int UpdateManager::GetFWVersion(uint16_t* version) {
    if (!version)
        return status::kFailure;
    if (m_deviceImage.VID == 0 || m_deviceImage.PID == 0 ||
        m_deviceImage.ChipVer == kChipVerUnknown)
        return status::kNoDevice;
    *version = m_deviceImage.FWVer;
    return status::kSuccess;
}

uint32_t UpdateManager::DetectEEPSize() {
    m_nEepromSize = 0;
    // A detection that found nothing leaves the transport at size 0, whose one-byte addressing
    // at 0xA0 never reaches the speaker's EEPROM: start again from the initial size instead of
    // failing every later attach.
    if (rmGetEepromSize() == 0)
        rmSetEepromSize(kInitialTransportSize);
    const uint32_t entrySize = rmGetEepromSize();
    uint8_t original[kProbeBytes] = {};
    if (!rmEepromAccess(0, 0, original, kProbeBytes)) {
        WriteLog("UpdateManager::DetectEEPSize read magic word fail");
        return 0;
    }

    // Without the magic word at position 0 the wrap-around could match anywhere the same
    // bytes recur; a marker of our own makes position 0 recognisable.
    uint8_t atZero[kProbeBytes];
    std::memcpy(atZero, original, kProbeBytes);
    bool markerAttempted = false;
    bool search = true;
    if (((atZero[0] << 8) | atZero[1]) != kFWMagicWord) {
        atZero[0] = static_cast<uint8_t>(kFWMagicWord & 0xFF);
        atZero[1] = static_cast<uint8_t>(kFWMagicWord >> 8);
        markerAttempted = true;
        search = rmEepromAccess(1, 0, atZero, kProbeBytes) != 0;
    }

    uint32_t found = 0;
    bool matched = false;
    if (search) {
        for (uint32_t size : kCandidateSizes) {
            rmSetEepromSize(size);
            uint8_t probe[kProbeBytes] = {};
            if (rmEepromAccess(0, size, probe, kProbeBytes) &&
                std::memcmp(probe, atZero, kProbeBytes) == 0) {
                found = size;
                matched = true;
                break;
            }
        }
    }

    if (markerAttempted) {
        // Put the EEPROM's own first bytes back, addressed the way that reached it, and read
        // them to be sure: a write the chip did not take would leave the marker behind.
        rmSetEepromSize(matched && found != 0 ? found : entrySize);
        bool restored = false;
        for (int attempt = 0; attempt < kRestoreAttempts && !restored; ++attempt) {
            uint8_t check[kProbeBytes] = {};
            restored = rmEepromAccess(1, 0, original, attempt == 0 ? 2 : kProbeBytes) &&
                       rmEepromAccess(0, 0, check, kProbeBytes) &&
                       std::memcmp(check, original, kProbeBytes) == 0;
        }
        if (!restored) {
            WriteLog("UpdateManager::DetectEEPSize restore first bytes fail");
            m_bRestoreFailed = true;
        }
    }
    rmSetEepromSize(matched ? found : 0);
    m_nEepromSize = found;
    return found;
}

int UpdateManager::ReadFWInfoDevice(FWInfo* info) {
    if (!info)
        return status::kFailure;
    int result = status::kSuccess;
    uint8_t header[kFWHeaderSize] = {};
    if (!rmEepromAccess(0, 0, header, kFWHeaderSize)) {
        WriteLog("UpdateManager::ReadFWInfoDevice read config data fail");
        result = status::kFailure;
    } else if (!CheckMagicWord(header) || !ParseEEPROMConfig(info, header)) {
        result = status::kInvalidImage;
    } else {
        info->Data.reset(new (std::nothrow) uint8_t[info->TotalSize]());
        if (!info->Data) {
            result = status::kFailure;
        } else if (!rmEepromAccess(0, 0, info->Data.get(), info->TotalSize)) {
            WriteLog("UpdateManager::ReadFWInfoDevice read total FW fail");
            result = status::kFailure;
        } else if (!VerifyCheckSum(info) || !ReadExtInfo(info)) {
            result = status::kInvalidImage;
        }
    }
    WriteLog("UpdateManager::ReadFWInfoDevice return 0x%X", result);
    return result;
}

bool UpdateManager::FindHIDDevice(std::unique_ptr<UsbDevice>& handle, uint16_t vid, uint16_t pid) {
    // The speaker's HID interface is a function of the device the transport selected, so the
    // device itself is the one to read the string from.
    const UsbDeviceInfo* selected = rmSelectedDevice();
    UsbBackend* backend = rmBackend();
    if (!selected || !backend || !selected->HasInterfaceClass(kUsbClassHid))
        return false;
    WriteLog("UpdateManager::AttachDevice FindHIDDevice VID =0x%X PID =0x%X", selected->vid,
             selected->pid);
    if (selected->vid != vid || selected->pid != pid)
        return false;
    std::unique_ptr<UsbDevice> opened;
    if (backend->Open(selected->path, opened) != UsbResult::Ok || !opened)
        return false;
    handle = std::move(opened);
    return true;
}

bool UpdateManager::ReadWholeEeprom(std::unique_ptr<uint8_t[]>& out, uint32_t& size) {
    size = 0;
    out.reset();
    const uint32_t eepromSize = m_nEepromSize;
    if (eepromSize == 0)
        return false;
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[eepromSize]());
    if (!buffer || !rmEepromAccess(0, 0, buffer.get(), eepromSize))
        return false;
    out = std::move(buffer);
    size = eepromSize;
    return true;
}

int UpdateManager::WriteBackup() {
    std::string pathOrReason;
    int r;
    if (!m_bEepromBroken && m_deviceImage.Data && m_deviceImage.TotalSize != 0) {
        r = backup::WriteBackupFile(m_deviceImage.Data.get(), m_deviceImage.TotalSize,
                                    m_deviceImage.VID, m_deviceImage.PID, m_deviceImage.FWVer,
                                    false, pathOrReason);
    } else {
        // Named after the speaker, not after what the broken bytes say of themselves.
        r = backup::WriteBackupFile(m_rawEeprom.get(), m_nRawEepromSize, m_wAttachedVid,
                                    m_wAttachedPid, 0, true, pathOrReason);
    }
    if (r == status::kSuccess) {
        m_strLastBackup = pathOrReason;
        WriteLog("UpdateManager::UpdateFirmware backup %s", pathOrReason.c_str());
    } else {
        WriteLog("UpdateManager::UpdateFirmware backup failed, burn not started: %s",
                 pathOrReason.c_str());
        m_strSaveProblem =
            "the backup of the speaker's firmware could not be saved: " + pathOrReason;
    }
    return r;
}

int UpdateManager::LockSpeaker(const char* operation, std::unique_ptr<SpeakerLock>& lock) {
    m_busyHolder = SpeakerLockHolder{};
    m_strLockProblem.clear();
    const UsbDeviceInfo* selected = rmSelectedDevice();
    // A speaker that no other process can reach needs no lock.
    if (!selected || selected->lockKey.empty())
        return status::kSuccess;
    std::string reason;
    switch (TakeSpeakerLock(selected->lockKey, kSpeakerLockWaitMs, lock, m_busyHolder, reason)) {
    case LockResult::Taken:
        return status::kSuccess;
    case LockResult::Busy:
        WriteLog("UpdateManager::%s speaker busy, held by %s", operation,
                 m_busyHolder.Describe().c_str());
        return status::kSpeakerBusy;
    case LockResult::Failed:
        break;
    }
    m_strLockProblem = reason;
    WriteLog("UpdateManager::%s speaker lock failed: %s", operation, reason.c_str());
    return status::kFailure;
}

void UpdateManager::FindJournal() {
    m_leftJournal = journal::Find(m_strJournalKey);
    if (!m_leftJournal)
        return;
    // Cut off during its read-back, or after: the EEPROM holds the whole image after all.
    const journal::Entry& left = *m_leftJournal;
    if (!m_bEepromBroken && m_deviceImage.Data && m_deviceImage.TotalSize == left.imageSize &&
        journal::DigestOf(m_deviceImage.Data.get(), m_deviceImage.TotalSize) == left.imageDigest) {
        WriteLog("UpdateManager::AttachDevice the burn of %s started %s finished after all",
                 left.image.c_str(), left.started.c_str());
        journal::Remove(m_strJournalKey);
        m_leftJournal.reset();
        return;
    }
    WriteLog("UpdateManager::AttachDevice the burn of %s started %s did not finish; backup %s",
             left.image.c_str(), left.started.c_str(), left.backup.c_str());
}

int UpdateManager::WriteJournal() {
    if (m_strJournalKey.empty())
        return status::kSuccess;
    journal::Entry entry;
    entry.speaker = m_strJournalKey;
    entry.vid = m_wAttachedVid;
    entry.pid = m_wAttachedPid;
    entry.image = m_strFileImagePath;
    entry.imageFw = m_fileImage.FWVer;
    entry.imageSize = m_fileImage.TotalSize;
    entry.imageDigest = journal::DigestOf(m_fileImage.Data.get(), m_fileImage.TotalSize);
    entry.backup = m_strLastBackup;
    entry.backupFw = m_bEepromBroken ? 0 : m_deviceImage.FWVer;
    const std::time_t now = std::time(nullptr);
    const std::tm local = files::LocalTime(now);
    char started[32];
    std::strftime(started, sizeof started, "%Y-%m-%d %H:%M:%S", &local);
    entry.started = started;
    std::string reason;
    if (!journal::Write(entry, reason)) {
        WriteLog("UpdateManager::UpdateFirmware journal failed, burn not started: %s",
                 reason.c_str());
        m_strSaveProblem = "the burn journal could not be saved: " + reason;
        return status::kFailure;
    }
    return status::kSuccess;
}

// Runs on the burn thread: touches nothing the window thread reads.
void UpdateManager::EndJournal() {
    journal::Remove(m_strJournalKey);
}

int UpdateManager::UpdateFirmware(const char* path) {
    return UpdateFirmware(path, 0);
}

int UpdateManager::UpdateFirmware(const char* path, uint16_t requiredFwVer) {
    // A second burn, or a new file image under the running one, would corrupt both.
    if (BusyOrCollect())
        return status::kFailure;
    SetProgress(0);
    SetState(status::kBurnIdle);
    m_strSaveProblem.clear();
    if (!path)
        return status::kFailure;

    int result = ReadFWInfoFile(path, &m_fileImage);
    WriteLog("UpdateManager::VerifyFWFile return 0x%X", result);
    if (result == status::kSuccess) {
        bool compatible;
        if (m_bEepromBroken) {
            // Nothing on the EEPROM to compare with but the chip; still, an image for another
            // vendor would make the speaker answer under an ID nothing looks for again.
            compatible = m_fileImage.ChipVer == m_deviceImage.ChipVer;
            if (compatible && m_fileImage.VID != m_wAttachedVid) {
                WriteLog("UpdateManager::VerifyCompatibility VID =0x%X is not the speaker's 0x%X",
                         m_fileImage.VID, m_wAttachedVid);
                compatible = false;
            }
        } else
            compatible = m_fileImage.ChipVer == m_deviceImage.ChipVer &&
                         m_fileImage.PID == m_deviceImage.PID &&
                         m_fileImage.VID == m_deviceImage.VID &&
                         m_fileImage.CHIP == m_deviceImage.CHIP;
        // An image larger than the EEPROM would wrap around and overwrite its start.
        if (compatible && m_fileImage.TotalSize > m_nEepromSize) {
            WriteLog("UpdateManager::VerifyCompatibility FW total size 0x%X larger than eeprom "
                     "size 0x%X",
                     m_fileImage.TotalSize, m_nEepromSize);
            compatible = false;
        }
        // The image must give the setting that was asked for, not merely fit the speaker.
        if (compatible && requiredFwVer != 0 && m_fileImage.FWVer != requiredFwVer) {
            WriteLog("UpdateManager::VerifyCompatibility FWVer =0x%X is not the 0x%X asked for",
                     m_fileImage.FWVer, requiredFwVer);
            compatible = false;
        }
        result = compatible ? status::kSuccess : status::kIncompatible;
        WriteLog("UpdateManager::VerifyCompatibility eeprom data is broken %d, return 0x%X",
                 m_bEepromBroken ? 1 : 0, result);
    }
    // From here to the end of the read-back no other program may touch the EEPROM, and no
    // caught signal may end this one: the journal below promises a burn.
    std::unique_ptr<SpeakerLock> lock;
    std::unique_ptr<BurnSignalShield> shield;
    if (result == status::kSuccess)
        result = LockSpeaker("UpdateFirmware", lock);
    if (result == status::kSuccess)
        shield = std::make_unique<BurnSignalShield>();
    if (result == status::kSuccess)
        result = WriteBackup();
    if (result == status::kSuccess) {
        m_strFileImagePath = path;
        result = WriteJournal();
        if (result == status::kSuccess)
            m_leftJournal.reset(); // this burn's record replaces the one left behind
    }
    if (result == status::kSuccess) {
        // Burning from the moment we say the burn started: a poll before the thread runs must
        // not read the idle state as a failure.
        SetState(status::kBurnRunning);
        try {
            m_burnThread =
                std::thread(&UpdateManager::BurnThread, this, std::move(lock), std::move(shield));
        } catch (const std::system_error&) {
            EndJournal();
            SetState(status::kBurnIdle);
            result = status::kFailure;
        }
    }
    WriteLog("UpdateManager::UpdateFirmware return 0x%X", result);
    return result;
}

void UpdateManager::BurnThread(UpdateManager* self, std::unique_ptr<SpeakerLock> lock,
                               std::unique_ptr<BurnSignalShield> shield) {
    // No suspend, shutdown or idle action while the EEPROM holds half an image.
    const BurnSleepGuard sleepGuard;
    if (self->BurnFW(&self->m_fileImage) == status::kFailure) {
        self->EndJournal();
        self->SetState(status::kBurnFailed); // never leave the state at "burning"
    }
    lock.reset();
    shield.reset();
}

int UpdateManager::BurnFW(FWInfo* info) {
    if (!info || !info->Data || info->TotalSize == 0)
        return status::kFailure;
    const uint32_t total = info->TotalSize;
    const uint32_t chunk = total / kProgressSteps;
    const uint32_t remainder = total % kProgressSteps;
    SetProgress(0);
    SetState(status::kBurnRunning);

    uint32_t offset = 0;
    for (int step = 0; step <= kProgressSteps; ++step) {
        const uint32_t length = step < kProgressSteps ? chunk : remainder;
        // A step with nothing to write is no failure: images whose size is a multiple of 100,
        // or below 100 bytes, have such steps.
        if (length != 0 && !rmEepromAccess(1, offset, info->Data.get() + offset, length))
            break;
        SetProgress(step);
        offset += length;
    }

    int result;
    std::unique_ptr<uint8_t[]> readBack(new (std::nothrow) uint8_t[total]());
    if (!readBack || !rmEepromAccess(0, 0, readBack.get(), total)) {
        result = status::kBurnFailed;
    } else if (std::memcmp(readBack.get(), info->Data.get(), total) == 0) {
        WriteLog("UpdateManager::BurnFW binary compare pass");
        result = status::kBurnVerified;
    } else {
        WriteLog("UpdateManager::BurnFW binary compare fail");
        result = status::kBurnFailed;
    }
    // The read-back has ended: whatever it found, the burn is no longer under way. Gone
    // before the state says so, so that nobody who saw the end finds the record.
    EndJournal();
    SetState(result);
    readBack.reset();
    WriteLog("UpdateManager::BurnFW returm 0x%X", result);
    return result;
}

int UpdateManager::GteUpdateProgress(int* progress) {
    if (!progress)
        return status::kFailure;
    int state;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        *progress = m_nBurnProgress;
    }
    {
        std::lock_guard<std::mutex> lock(m_lock);
        state = m_nBurnState;
    }
    WriteLog("UpdateManager::GteUpdateProgress progress =%d  return 0x%X", *progress, state);
    return state;
}

int UpdateManager::DetachDevice() {
    if (BusyOrCollect())
        return status::kFailure;
    SetProgress(0);
    SetState(status::kBurnIdle);
    m_hHid.reset();
    const int result = rmDeviceStop() ? status::kSuccess : status::kFailure;
    WriteLog("UpdateManager::DetachDevice return 0x%X", result);
    return result;
}
