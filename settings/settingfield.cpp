// The record fields of the settings keys and the handler of the plain keys.
#include "settings/settingfield.h"

#include <atomic>

#include "settings/settingsline.h"

void readNote(const SettingsRead& read, SettingsEvent what, const WCHAR* key, const WCHAR* value, int used,
              int detail) {
    settingsNote(read.diagnostics, {read.line, read.pass, what, key, value, used, detail});
}

const SettingChoice* settingChoice(const SettingInfo& setting, const WCHAR* value) {
    for (int i = 0; i < setting.choiceCount; ++i)
        if (value[0] == static_cast<WCHAR>(setting.choices[i].character)) return &setting.choices[i];
    return nullptr;
}

void* fieldIn(const SettingField& field, void* record) {
    if (record == nullptr || field.type == FieldNone) return nullptr;
    return static_cast<unsigned char*>(record) + field.offset;
}

int fieldNumber(const SettingField& field, void* record) {
    void* at = fieldIn(field, record);
    if (at == nullptr) return 0;
    switch (field.type) {
        case FieldNumber:
            return *static_cast<int*>(at);
        case FieldByte:
            return *static_cast<BYTE*>(at);
        case FieldAtomicByte:
            return static_cast<std::atomic<BYTE>*>(at)->load();
        default:
            return 0;
    }
}

void storeFieldNumber(const SettingField& field, void* record, int number) {
    void* at = fieldIn(field, record);
    if (at == nullptr) return;
    switch (field.type) {
        case FieldNumber:
            *static_cast<int*>(at) = number;
            break;
        case FieldByte:
            *static_cast<BYTE*>(at) = static_cast<BYTE>(number);
            break;
        case FieldAtomicByte:
            static_cast<std::atomic<BYTE>*>(at)->store(static_cast<BYTE>(number));
            break;
        default:
            break;
    }
}

void resetField(const SettingInfo& setting, void* record) {
    const SettingField& field = setting.field;
    void* at = fieldIn(field, record);
    if (at == nullptr) return;
    switch (field.type) {
        case FieldCodes:
            for (int i = 0; i < field.capacity; ++i) static_cast<WORD*>(at)[i] = 0;
            break;
        case FieldText:
            for (int i = 0; i < field.capacity; ++i) static_cast<char*>(at)[i] = 0;
            break;
        case FieldWideText:
            for (int i = 0; i < field.capacity; ++i) static_cast<WCHAR*>(at)[i] = 0;
            break;
        default:
            storeFieldNumber(field, record, setting.defaultValue);
            break;
    }
}

bool heldNow(const SettingInfo& setting, SettingsRead& read) {
    read.used = fieldNumber(setting.field, read.record);
    return true;
}

bool storeKey(const SettingInfo& setting, SettingsRead& read, const WCHAR* key, const WCHAR* value) {
    const SettingField& field = setting.field;
    switch (setting.kind) {
        case KindFlag:
            storeFieldNumber(field, read.record, settingsFlag(value));
            break;
        case KindNumber:
            storeFieldNumber(field, read.record, settingsNumber(value));
            break;
        case KindDigit:
            storeFieldNumber(field, read.record, settingsDigit(value));
            break;
        case KindChoice: {
            const SettingChoice* choice = settingChoice(setting, value);
            storeFieldNumber(field, read.record, choice != nullptr ? choice->stored : setting.otherStored);
            break;
        }
        case KindCodeList: {
            auto* list = static_cast<WORD*>(fieldIn(field, read.record));
            if (list == nullptr || field.type != FieldCodes) break;
            if (int loss = settingsCodeList(list, field.capacity, value))
                readNote(read, NoteCodeListLoss, key, value, loss, setting.section);
            break;
        }
        case KindText: {
            auto* text = static_cast<char*>(fieldIn(field, read.record));
            if (text == nullptr || field.type != FieldText) break;
            // Cut to the bytes the field holds.
            textNarrow(text, static_cast<size_t>(field.capacity), value);
            if (textLength(value, kSettingsLineChars) >= static_cast<size_t>(field.capacity))
                readNote(read, NoteValueCut, key, value, field.capacity - 1, setting.section);
            break;
        }
        case KindCharacter:
            break;
    }
    return heldNow(setting, read);
}
