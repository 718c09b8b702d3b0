// gui_counts PID: prints the GDI and USER object counts, the handle count and the private bytes
// of another process as one JSON line:
//   {"pid":N,"gdi":N,"user":N,"handles":N,"private":N,
//    "gdi_source":S,"user_source":S,"handles_source":S}
// GetGuiResources and GetProcessHandleCount come first. Wine 8 answers 0 to both, so a 0 is
// counted again another way, and the source says which one gave the figure:
//   gdi      "GetGuiResources", or "handle table": the live entries of the process's GDI handle
//            table (read from its memory) that are not stock objects;
//   user     "GetGuiResources", or "windows": the process's windows, top-level and message-only
//            ones with all their descendants, hidden ones too;
//   handles  "GetProcessHandleCount", or "system handle list": the entries of
//            NtQuerySystemInformation(SystemHandleInformation) the process owns.
// Before another way is trusted it is tried on this process itself, against what it can see
// directly and across objects it makes and frees; when that check fails the tool says why and
// prints no figures. Exit code 1 when the process cannot be opened, a count cannot be read or a
// check fails.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr NTSTATUS status_info_length_mismatch = static_cast<NTSTATUS>(0xC0000004L);

std::string message(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

bool read_memory(HANDLE process, std::uint64_t address, void* buffer, std::size_t size,
                 std::string& error) {
    if (address > UINTPTR_MAX - size) {
        error = message("0x%llx is out of this build's reach",
                        static_cast<unsigned long long>(address));
        return false;
    }
    SIZE_T done = 0;
    const auto* from = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(address));
    if (!ReadProcessMemory(process, from, buffer, size, &done) || done != size) {
        error = message("cannot read %zu bytes at 0x%llx (error %lu)", size,
                        static_cast<unsigned long long>(address), GetLastError());
        return false;
    }
    return true;
}

// The table reading below follows this build's pointer size; a process of the other bitness
// keeps its structures elsewhere and is refused.
bool same_bitness(HANDLE process, std::string& error) {
    BOOL mine = FALSE;
    BOOL theirs = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &mine) || !IsWow64Process(process, &theirs)) {
        error = message("IsWow64Process failed (error %lu)", GetLastError());
        return false;
    }
    if (mine != theirs) {
        const int bits = static_cast<int>(sizeof(void*) * 8);
        const int other = bits == 32 ? 64 : 32;
        error = message("this gui_counts is %d-bit, the process is %d-bit: use the %d-bit build",
                        bits, other, other);
        return false;
    }
    return true;
}

// -- GDI objects: the handle table ---------------------------------------------------------------

// Wine's win32u keeps each process's GDI objects in a table of its own: 0x10000 entries of 24
// bytes whatever the bitness. A handle's low word is its index, its high word the entry's
// `unique`. The check below confirms the layout on this process before it is used.
struct GdiEntry {
    std::uint64_t object; // the object in win32u's memory
    std::uint32_t owner;  // low word: the owning process; 0 under Wine, the table being private
    std::uint16_t unique; // low byte: the object's full type (0x80: stock), high byte: generation
    std::uint8_t type;    // 0: a free entry
    std::uint8_t flags;
    std::uint64_t user; // the part in the process's own memory (a DC's attributes)
};
static_assert(sizeof(GdiEntry) == 24, "a GDI table entry is 24 bytes");

constexpr unsigned gdi_table_entries = 0x10000;
constexpr std::uint16_t gdi_stock_flag = 0x80;

// PEB.GdiSharedHandleTable names the table. A 32-bit process on a 64-bit Wine prefix leaves the
// one of its own PEB empty and fills in that of its 64-bit PEB, which every thread's TEB leads
// to: TEB32.GdiBatchCount holds the TEB64's address, TEB64.Peb the PEB64's. Wine's gdi32 finds
// the table that way too.
constexpr std::uint64_t peb32_image = 0x08;
constexpr std::uint64_t peb32_gdi_table = 0x94;
constexpr std::uint64_t peb64_image = 0x10;
constexpr std::uint64_t peb64_gdi_table = 0xF8;
constexpr std::uint64_t teb32_gdi_batch_count = 0xF70;
constexpr std::uint64_t teb64_peb = 0x60;

#ifndef _WIN64
struct ThreadBasics {
    NTSTATUS exit_status;
    PVOID teb;
    CLIENT_ID client;
    ULONG_PTR affinity;
    LONG priority;
    LONG base_priority;
};

// The TEB of one of the process's threads.
bool thread_block(DWORD pid, std::uint64_t& teb, std::string& error) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        error = message("cannot list the threads (error %lu)", GetLastError());
        return false;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Thread32First(snapshot, &entry); more && !found;
         more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != pid) {
            continue;
        }
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (!thread) {
            continue;
        }
        ThreadBasics basics{};
        if (NtQueryInformationThread(thread, ThreadBasicInformation, &basics, sizeof basics,
                                     nullptr) == 0 &&
            basics.teb) {
            teb = reinterpret_cast<std::uintptr_t>(basics.teb);
            found = true;
        }
        CloseHandle(thread);
    }
    CloseHandle(snapshot);
    if (!found) {
        error = "no thread of the process shows its TEB";
    }
    return found;
}
#endif

// The table's address in the process; 0 when it has none (it never used GDI).
bool gdi_table_address(HANDLE process, DWORD pid, std::uint64_t& table, std::string& error) {
    PROCESS_BASIC_INFORMATION basics{};
    const NTSTATUS status = NtQueryInformationProcess(process, ProcessBasicInformation, &basics,
                                                      sizeof basics, nullptr);
    if (status != 0 || !basics.PebBaseAddress) {
        error = message("no PEB address (status 0x%lx)", static_cast<unsigned long>(status));
        return false;
    }
    const std::uint64_t peb = reinterpret_cast<std::uintptr_t>(basics.PebBaseAddress);
    table = 0;
#ifdef _WIN64
    (void)pid;
    return read_memory(process, peb + peb64_gdi_table, &table, sizeof table, error);
#else
    std::uint32_t table32 = 0;
    if (!read_memory(process, peb + peb32_gdi_table, &table32, sizeof table32, error)) {
        return false;
    }
    if (table32) {
        table = table32;
        return true;
    }
    std::uint64_t teb = 0;
    std::uint32_t teb64 = 0;
    if (!thread_block(pid, teb, error) ||
        !read_memory(process, teb + teb32_gdi_batch_count, &teb64, sizeof teb64, error)) {
        return false;
    }
    if (!teb64) {
        return true; // no 64-bit side, and nothing in the 32-bit PEB: no table yet
    }
    std::uint64_t peb64 = 0;
    std::uint32_t image32 = 0;
    std::uint64_t image64 = 0;
    if (!read_memory(process, teb64 + teb64_peb, &peb64, sizeof peb64, error) ||
        !read_memory(process, peb + peb32_image, &image32, sizeof image32, error) ||
        !read_memory(process, peb64 + peb64_image, &image64, sizeof image64, error)) {
        return false;
    }
    if (image64 != image32) {
        error =
            message("the 64-bit PEB at 0x%llx names image 0x%llx, the PEB 0x%lx",
                    static_cast<unsigned long long>(peb64),
                    static_cast<unsigned long long>(image64), static_cast<unsigned long>(image32));
        return false;
    }
    return read_memory(process, peb64 + peb64_gdi_table, &table, sizeof table, error);
#endif
}

// The whole table of a process; empty when it has none.
bool read_gdi_table(HANDLE process, DWORD pid, std::vector<GdiEntry>& entries, std::string& error) {
    std::uint64_t table = 0;
    entries.clear();
    if (!gdi_table_address(process, pid, table, error)) {
        return false;
    }
    if (!table) {
        return true;
    }
    entries.resize(gdi_table_entries);
    return read_memory(process, table, entries.data(), entries.size() * sizeof(GdiEntry), error);
}

bool is_live(const GdiEntry& entry) {
    return entry.type != 0;
}

// The process's own objects: live, not stock, owned by it (Wine leaves the owner 0).
unsigned gdi_objects(const std::vector<GdiEntry>& entries, DWORD pid) {
    unsigned count = 0;
    for (const GdiEntry& entry : entries) {
        const std::uint16_t owner = static_cast<std::uint16_t>(entry.owner);
        if (is_live(entry) && !(entry.unique & gdi_stock_flag) &&
            (owner == 0 || owner == static_cast<std::uint16_t>(pid))) {
            ++count;
        }
    }
    return count;
}

// This process's table as read from outside, next to what GetObjectType says of each index
// (Wine takes a bare index for a handle).
struct GdiView {
    std::vector<GdiEntry> entries;
    unsigned named = 0;   // indexes GetObjectType knows
    unsigned unnamed = 0; // live entries of a type GetObjectType does not name
    unsigned objects = 0; // gdi_objects()
};

bool look_at_own_gdi(HANDLE self, GdiView& view, std::string& error) {
    const DWORD pid = GetCurrentProcessId();
    if (!read_gdi_table(self, pid, view.entries, error)) {
        return false;
    }
    if (view.entries.empty()) {
        error = "this process has no GDI table after making GDI objects";
        return false;
    }
    view.named = view.unnamed = 0;
    for (unsigned index = 1; index < gdi_table_entries; ++index) {
        const bool live = is_live(view.entries[index]);
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(static_cast<std::uintptr_t>(index)))) {
            if (!live) {
                error = message("GetObjectType knows index %u, the table has it free", index);
                return false;
            }
            ++view.named;
        } else if (live) {
            ++view.unnamed;
        }
    }
    view.objects = gdi_objects(view.entries, pid);
    return true;
}

bool holds(const GdiView& view, HGDIOBJ object) {
    const auto handle = reinterpret_cast<std::uintptr_t>(object);
    const GdiEntry& entry = view.entries[handle & 0xFFFF];
    return is_live(entry) && entry.unique == ((handle >> 16) & 0xFFFF);
}

bool make_gdi_objects(HGDIOBJ (&made)[3]) {
    made[0] = CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
    made[1] = CreateSolidBrush(RGB(4, 5, 6));
    made[2] = CreateCompatibleDC(nullptr);
    return made[0] && made[1] && made[2];
}

void free_gdi_objects(HGDIOBJ (&made)[3]) {
    if (made[2]) {
        DeleteDC(static_cast<HDC>(made[2]));
    }
    for (int i = 0; i < 2; ++i) {
        if (made[i]) {
            DeleteObject(made[i]);
        }
    }
}

// The table read from outside must agree with GetObjectType on this process, and move by
// exactly the three objects made, then freed.
bool check_own_gdi_table(HANDLE self, std::string& error) {
    // The first DC loads the display driver, which keeps objects of its own: a round first.
    HGDIOBJ made[3] = {};
    bool ok = make_gdi_objects(made);
    free_gdi_objects(made);
    if (!ok) {
        error = message("cannot make GDI objects (error %lu)", GetLastError());
        return false;
    }
    GdiView before;
    GdiView during;
    GdiView after;
    if (!look_at_own_gdi(self, before, error)) {
        return false;
    }
    ok = make_gdi_objects(made);
    if (!ok) {
        error = message("cannot make GDI objects (error %lu)", GetLastError());
    }
    ok = ok && look_at_own_gdi(self, during, error);
    const bool held =
        ok && holds(during, made[0]) && holds(during, made[1]) && holds(during, made[2]);
    free_gdi_objects(made);
    if (!ok || !look_at_own_gdi(self, after, error)) {
        return false;
    }
    const bool freed = !holds(after, made[0]) && !holds(after, made[1]) && !holds(after, made[2]);
    if (!held || !freed || during.named != before.named + 3 || after.named != before.named ||
        during.objects != before.objects + 3 || after.objects != before.objects ||
        during.unnamed != before.unnamed || after.unnamed != before.unnamed) {
        error = message("the table of this process does not follow its objects: GetObjectType "
                        "%u/%u/%u, table %u/%u/%u, others %u/%u/%u (before/with 3 made/freed), "
                        "entries of the 3 %s/%s",
                        before.named, during.named, after.named, before.objects, during.objects,
                        after.objects, before.unnamed, during.unnamed, after.unnamed,
                        held ? "live" : "not live", freed ? "free" : "not free");
        return false;
    }
    return true;
}

bool check_gdi_table(std::string& error) {
    HANDLE self =
        OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, GetCurrentProcessId());
    if (!self) {
        error = message("cannot open this process (error %lu)", GetLastError());
        return false;
    }
    const bool ok = check_own_gdi_table(self, error);
    CloseHandle(self);
    return ok;
}

bool gdi_from_table(HANDLE process, DWORD pid, unsigned& count, std::string& error) {
    std::vector<GdiEntry> entries;
    if (!same_bitness(process, error) || !check_gdi_table(error) ||
        !read_gdi_table(process, pid, entries, error)) {
        return false;
    }
    count = gdi_objects(entries, pid);
    return true;
}

// -- handles: the system's handle list -----------------------------------------------------------

// Wine's list carries the owner as a whole ULONG (SYSTEM_HANDLE_ENTRY.OwnerPid). `values`, when
// given, gets the handle values the process owns.
bool system_handle_count(DWORD pid, unsigned& count, std::string& error,
                         std::vector<std::uint16_t>* values = nullptr) {
    std::vector<unsigned char> buffer(256 * 1024);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status =
            NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(SystemHandleInformation),
                                     buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == status_info_length_mismatch && buffer.size() < (256u << 20)) {
            buffer.resize(needed > buffer.size() ? needed + 64 * 1024 : buffer.size() * 2);
            continue;
        }
        if (status != 0) {
            error = message("NtQuerySystemInformation(SystemHandleInformation) failed "
                            "(status 0x%lx)",
                            static_cast<unsigned long>(status));
            return false;
        }
        const auto* list = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
        const std::size_t room = (buffer.size() - offsetof(SYSTEM_HANDLE_INFORMATION, Handle)) /
                                 sizeof(SYSTEM_HANDLE_ENTRY);
        if (list->Count > room) {
            error = message("the handle list says %lu entries, its room is %zu", list->Count, room);
            return false;
        }
        count = 0;
        if (values) {
            values->clear();
        }
        for (ULONG i = 0; i < list->Count; ++i) {
            if (list->Handle[i].OwnerPid == pid) {
                ++count;
                if (values) {
                    values->push_back(list->Handle[i].HandleValue);
                }
            }
        }
        return true;
    }
}

bool lists(const std::vector<std::uint16_t>& values, HANDLE handle) {
    const auto value = static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(handle));
    for (std::uint16_t listed : values) {
        if (listed == value) {
            return true;
        }
    }
    return false;
}

// The list must move by exactly the events this process opens, then closes, and name them as
// this process's handles while they are open.
bool check_system_handle_list(std::string& error) {
    const DWORD self = GetCurrentProcessId();
    unsigned before = 0;
    unsigned during = 0;
    unsigned after = 0;
    std::vector<std::uint16_t> held;
    std::vector<std::uint16_t> left;
    if (!system_handle_count(self, before, error)) {
        return false;
    }
    HANDLE events[4] = {};
    bool made = true;
    for (HANDLE& event : events) {
        event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        made = made && event;
    }
    if (!made) {
        error = message("cannot make events (error %lu)", GetLastError());
    }
    const bool counted = made && system_handle_count(self, during, error, &held);
    bool listed = true;
    for (HANDLE event : events) {
        listed = listed && lists(held, event);
    }
    for (HANDLE event : events) {
        if (event) {
            CloseHandle(event);
        }
    }
    if (!counted || !system_handle_count(self, after, error, &left)) {
        return false;
    }
    bool gone = true;
    for (HANDLE event : events) {
        gone = gone && !lists(left, event);
    }
    if (during != before + 4 || after != before || !listed || !gone) {
        error = message("the list does not follow this process's handles: %u, %u with 4 "
                        "events, %u after; the events %s while open, %s after",
                        before, during, after, listed ? "listed" : "not listed",
                        gone ? "gone" : "still listed");
        return false;
    }
    return true;
}

bool handles_from_list(DWORD pid, unsigned& count, std::string& error) {
    return check_system_handle_list(error) && system_handle_count(pid, count, error);
}

// -- USER objects: the windows -------------------------------------------------------------------

struct WindowTally {
    DWORD pid;
    unsigned count;
};

BOOL CALLBACK tally_window(HWND window, LPARAM param) {
    auto& tally = *reinterpret_cast<WindowTally*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == tally.pid) {
        ++tally.count;
    }
    return TRUE;
}

// A window and all its descendants (EnumChildWindows goes down the whole tree).
BOOL CALLBACK tally_tree(HWND window, LPARAM param) {
    tally_window(window, param);
    EnumChildWindows(window, tally_window, param);
    return TRUE;
}

unsigned window_count(DWORD pid) {
    WindowTally tally{pid, 0};
    EnumWindows(tally_tree, reinterpret_cast<LPARAM>(&tally));
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
        tally_tree(window, reinterpret_cast<LPARAM>(&tally));
    }
    return tally.count;
}

HWND make_window(HWND parent, DWORD style) {
    return CreateWindowExW(0, L"STATIC", L"", style, 0, 0, 1, 1, parent, nullptr, nullptr, nullptr);
}

// The count must move by exactly the windows this process makes, then destroys: a hidden
// top-level one with a child and a grandchild, and a message-only one.
bool check_window_count(std::string& error) {
    const DWORD self = GetCurrentProcessId();
    // A first window kept to the end: the thread's first window brings Wine's IME window along.
    HWND anchor = make_window(nullptr, WS_POPUP);
    const unsigned before = window_count(self);
    HWND top = make_window(nullptr, WS_POPUP);
    HWND child = top ? make_window(top, WS_CHILD) : nullptr;
    HWND grandchild = child ? make_window(child, WS_CHILD) : nullptr;
    HWND message_only = make_window(HWND_MESSAGE, 0);
    const bool made = anchor && grandchild && message_only;
    const unsigned during = window_count(self);
    if (message_only) {
        DestroyWindow(message_only);
    }
    if (top) {
        DestroyWindow(top);
    }
    const unsigned after = window_count(self);
    if (anchor) {
        DestroyWindow(anchor);
    }
    if (!made) {
        error = message("cannot make windows (error %lu)", GetLastError());
        return false;
    }
    if (before == 0 || during != before + 4 || after != before) {
        error = message("the count does not follow this process's windows: %u, %u with 4 "
                        "made, %u after",
                        before, during, after);
        return false;
    }
    return true;
}

bool user_from_windows(DWORD pid, unsigned& count, std::string& error) {
    if (!check_window_count(error)) {
        return false;
    }
    count = window_count(pid);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: gui_counts PID\n", stderr);
        return 2;
    }
    const DWORD pid = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 0));
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) {
        std::fprintf(stderr, "cannot open process %lu (error %lu)\n", pid, GetLastError());
        return 1;
    }
    std::string error;
    const char* failed = nullptr;

    unsigned gdi = GetGuiResources(process, GR_GDIOBJECTS);
    const char* gdi_source = "GetGuiResources";
    if (gdi == 0) {
        gdi_source = "handle table";
        if (!gdi_from_table(process, pid, gdi, error)) {
            failed = "GDI objects";
        }
    }
    unsigned user = GetGuiResources(process, GR_USEROBJECTS);
    const char* user_source = "GetGuiResources";
    if (!failed && user == 0) {
        user_source = "windows";
        if (!user_from_windows(pid, user, error)) {
            failed = "USER objects";
        }
    }
    DWORD handle_count = 0;
    unsigned handles = 0;
    const char* handles_source = "GetProcessHandleCount";
    if (GetProcessHandleCount(process, &handle_count) && handle_count != 0) {
        handles = handle_count;
    } else if (!failed) {
        handles_source = "system handle list";
        if (!handles_from_list(pid, handles, error)) {
            failed = "handles";
        }
    }
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (!failed &&
        !GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                              sizeof memory)) {
        failed = "private bytes";
        error = message("GetProcessMemoryInfo failed (error %lu)", GetLastError());
    }
    CloseHandle(process);
    if (failed) {
        std::fprintf(stderr, "cannot count the %s of process %lu: %s\n", failed, pid,
                     error.c_str());
        return 1;
    }
    std::printf("{\"pid\":%lu,\"gdi\":%u,\"user\":%u,\"handles\":%u,\"private\":%lu,"
                "\"gdi_source\":\"%s\",\"user_source\":\"%s\",\"handles_source\":\"%s\"}\n",
                pid, gdi, user, handles, static_cast<unsigned long>(memory.PrivateUsage),
                gdi_source, user_source, handles_source);
    return 0;
}
