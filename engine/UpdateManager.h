#pragma once

#include "BurnShield.h"
#include "FWInfo.h"
#include "Journal.h"
#include "SpeakerLock.h"
#include "UsbBackend.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// The engine core: attaches to the speaker, reads and checks firmware images, burns a file
// into the EEPROM on a thread of its own, reads it back and compares, and reports progress.
class UpdateManager {
public:
    UpdateManager();
    // Waits for a running burn to end: the burn thread uses this object to the last.
    virtual ~UpdateManager();

    UpdateManager(const UpdateManager&) = delete;
    UpdateManager& operator=(const UpdateManager&) = delete;

    int Initialize();
    int AttachDevice(int vid, int pid);
    int GetFWVersion(uint16_t* version);
    int UpdateFirmware(const char* path);
    // The same, for a burn that must give one setting: an image whose firmware version word
    // is not requiredFwVer (0: any) is refused with 64 before anything is written.
    int UpdateFirmware(const char* path, uint16_t requiredFwVer);
    int GteUpdateProgress(int* progress);
    int DetachDevice();

    uint32_t DetectEEPSize();
    int ReadFWInfoDevice(FWInfo* info);
    bool FindHIDDevice(std::unique_ptr<dormane::UsbDevice>& handle, uint16_t vid, uint16_t pid);
    int BurnFW(FWInfo* info);

    // Operations on one image record, shared by the file and the EEPROM readers.
    int ReadFWInfoFile(const char* path, FWInfo* info);
    bool CheckMagicWord(const uint8_t* header);
    bool ParseEEPROMConfig(FWInfo* info, const uint8_t* header);
    bool VerifyCheckSum(FWInfo* info);
    bool ReadExtInfo(FWInfo* info);

    // Read-only views for the command line's diagnostics; valid while no burn runs.
    const FWInfo& DeviceImage() const { return m_deviceImage; }
    const FWInfo& FileImage() const { return m_fileImage; }
    bool EepromBroken() const { return m_bEepromBroken; }
    // The IDs the speaker was attached with. Over a damaged EEPROM the device image's own
    // fields hold whatever the broken bytes say; these are what the speaker answers to.
    uint16_t AttachedVid() const { return m_wAttachedVid; }
    uint16_t AttachedPid() const { return m_wAttachedPid; }
    uint32_t EepromSize() const { return m_nEepromSize; }
    bool BurnRunning() const;
    // The backup written before the last burn ("" when none), and the whole EEPROM as read
    // at attach when its content failed the checks (for the raw backup).
    std::string LastBackupPath() const;
    // Who held the speaker when the last operation was refused with kSpeakerBusy, and why
    // the lock could not be used when it failed with 1 ("" when it could).
    dormane::SpeakerLockHolder BusyHolder() const { return m_busyHolder; }
    std::string LockProblem() const { return m_strLockProblem; }
    // Why the last UpdateFirmware refused with 1 before anything was written: the backup or
    // the burn journal could not be saved ("" otherwise).
    std::string SaveProblem() const { return m_strSaveProblem; }
    // The last attach wrote the size probe's marker and could not put the EEPROM's first
    // bytes back: the speaker holds a damaged image now.
    bool RestoreFailed() const { return m_bRestoreFailed; }
    // The journal of a burn that did not finish, as the last attach found it for this speaker.
    const std::optional<dormane::journal::Entry>& LeftJournal() const { return m_leftJournal; }
    // Reads the whole detected EEPROM into out; false when it cannot be read.
    bool ReadWholeEeprom(std::unique_ptr<uint8_t[]>& out, uint32_t& size);

private:
    bool BusyOrCollect();
    void SetState(int state);
    void SetProgress(int progress);
    int WriteBackup();
    int LockSpeaker(const char* operation, std::unique_ptr<dormane::SpeakerLock>& lock);
    int WriteJournal();
    void FindJournal();
    void EndJournal();
    static void BurnThread(UpdateManager* self, std::unique_ptr<dormane::SpeakerLock> lock,
                           std::unique_ptr<dormane::BurnSignalShield> shield);

    FWInfo m_deviceImage;
    FWInfo m_fileImage;
    bool m_bEepromBroken = false;
    int m_nBurnState;
    int m_nBurnProgress = 0;
    mutable std::mutex m_lock; // guards the burn state and the burn progress
    std::unique_ptr<dormane::UsbDevice> m_hHid;
    uint32_t m_nEepromSize = 0;
    std::thread m_burnThread;
    std::string m_strLastBackup;
    std::unique_ptr<uint8_t[]> m_rawEeprom; // the whole EEPROM, kept when its content was invalid
    uint32_t m_nRawEepromSize = 0;
    dormane::SpeakerLockHolder m_busyHolder;
    std::string m_strLockProblem;
    std::string m_strSaveProblem;
    bool m_bRestoreFailed = false;
    std::string m_strJournalKey; // the attached speaker's, "" when it has none
    std::string m_strFileImagePath;
    uint16_t m_wAttachedVid = 0;
    uint16_t m_wAttachedPid = 0;
    std::optional<dormane::journal::Entry> m_leftJournal;
};
