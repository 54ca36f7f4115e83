// Where a run's settings file lives, and writing it when other runs of the
// program share it: under a lock, merged into what the file holds by then,
// replaced whole. Plain code, no toolkit.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

class TIniFile;

// The file a run reads at its start and the file its changes go to.
struct TSettingsPlace {
    std::string ReadPath;
    std::string WritePath;
    // Where the changes go when WritePath refuses them; empty: nowhere else.
    std::string FallbackPath;
    // WritePath is not the file of the start folder, which cannot be
    // written: the user is told once where the settings go instead.
    bool Redirected = false;
};

// The settings file of the user's configuration folder:
// $XDG_CONFIG_HOME/scrivlet/Scrivlet.ini, else ~/.config/scrivlet/Scrivlet.ini
// (a relative XDG_CONFIG_HOME is ignored). Empty when no home is known.
[[nodiscard]] std::string UserSettingsPath();

// desktop (started from the desktop menu): the user's file (when a home is
// known). Otherwise localPath when its folder can be written and the file,
// if it exists, too; else the user's file receives the changes, and is
// also read when it exists (the local file is read otherwise). Example:
// ("Scrivlet.ini" in a folder the user cannot write, no user's file yet)
// reads "Scrivlet.ini", writes the user's file, Redirected.
[[nodiscard]] TSettingsPlace ChooseSettingsPlace(bool desktop, const std::string& localPath,
                                                 const std::string& userPath);

// Whether the file holds a password: a SOCKS password, or a URL format with
// a password in it.
[[nodiscard]] bool HoldsPassword(const TIniFile& ini);

// One run's view of a shared settings file. The run's state is written by a
// writer function into an accessor; the store compares it with what the same
// writer wrote right after the start (the baseline), so a value counts as
// changed by this run only when the run changed it.
// GUI thread only (a run saves once, at its end).
class TSettingsStore {
public:
    using TWriter = std::function<void(TIniFile&)>;
    struct TSaveResult {
        // The file written.
        std::string Path;
        // The place's WritePath refused; Path is its FallbackPath.
        bool FellBack = false;
    };

    explicit TSettingsStore(TSettingsPlace place);
    ~TSettingsStore();
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;
    const TSettingsPlace& Place() const { return place_; }

    // Records what write writes now, before anything changed, and the values
    // of the file read. A writer that raises records nothing: every value
    // then counts as changed.
    void KeepBaseline(const TWriter& write);

    // write fills a record of the run's state. Then, holding an advisory
    // lock (flock) on the file: re-reads it; sets the values this run
    // changed, those no other run changed since the start, and those the
    // file lacks; merges section "rfcs" (MergeHistory,
    // capped at "conf"/"HistCount" of the result);
    // replaces the file atomically, private when it holds a password. Lines
    // the program does not write stay byte for byte. A write path that
    // refuses sends the changes to the fallback path, which starts as a copy
    // of the file read. Raises EIniFileException when no file takes them.
    // A writer that raises has what it wrote before saved (the history left
    // as the file has it), and its failure raised after that.
    [[nodiscard]] TSaveResult Save(const TWriter& write);

    // When what write writes holds a password (a password is to be stored),
    // drops the group's and others' permissions of the file written. True
    // when it did, so the user is told once. A writer that raises counts as
    // no password.
    [[nodiscard]] bool ProtectSecrets(const TWriter& write);

private:
    void SaveTo(const std::string& path, const TIniFile& mine, bool withHistory);
    void MergeHistoryInto(TIniFile& current, const TIniFile& mine) const;

    TSettingsPlace place_;
    std::unique_ptr<TIniFile> baseline_;
    // The values of the file read, as the run started (by lower-case section and key).
    std::unordered_map<std::string, std::string> start_;
};
