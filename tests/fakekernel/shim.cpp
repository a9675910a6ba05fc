// Preloaded into a program (LD_PRELOAD), answers the device nodes under $KT62_LINUX_ROOT/dev/ from a
// FakeKernel and hands every other open, ioctl and close to libc. KT62_FAKE_KERNEL names its JSON
// configuration: "hosts" (HostSetup's fields, "ufs" as an object, "open_error" as an errno name), "log"
// (a file beside it) and "failures" ({"node": "bsg"|"sg"|"block", "after", "times", "op", and one of
// "errno", "result", "reply": "zero"|"stale", "sense": [key, asc, ascq] with "format": "descriptor",
// "host_status", "residual"}). The devices keep their state in kernel-state beside the file.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include <nlohmann/json.hpp>

#include "fake_kernel.h"

namespace {

namespace fs = std::filesystem;
using kt62::fake::Failure;
using kt62::fake::FakeKernel;
using kt62::fake::Node;

// Set while this thread sets the fake kernel up: its own file calls go straight to libc.
thread_local bool t_loading = false;

template <typename Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

template <typename T>
T Named(const nlohmann::json& j, std::initializer_list<std::pair<const char*, T>> names, const char* what) {
    for (const auto& [name, value] : names)
        if (j == name) return value;
    throw std::invalid_argument(std::string("unknown ") + what + " " + j.dump());
}

int ErrnoOf(const nlohmann::json& v) {
    return Named<int>(v, {{"EPERM", EPERM}, {"EACCES", EACCES}, {"EIO", EIO}}, "errno");
}

void AddFailure(FakeKernel& kernel, const nlohmann::json& f) {
    using Kind = Failure::Kind;
    const Node node =
        Named<Node>(f.at("node"), {{"bsg", Node::Bsg}, {"sg", Node::Sg}, {"block", Node::Block}}, "node");
    Failure failure;
    for (const auto& [key, kind] : {std::pair{"result", Kind::BsgResult},
                                    {"host_status", Kind::HostStatus},
                                    {"residual", Kind::Residual}})
        if (f.contains(key)) failure = {kind, f[key].get<int>()};
    if (f.contains("errno")) failure = {Kind::Errno, ErrnoOf(f["errno"])};
    if (f.contains("reply"))
        failure = {
            Named<Kind>(f["reply"], {{"zero", Kind::ZeroReply}, {"stale", Kind::StaleReply}}, "reply")};
    if (f.contains("sense")) {
        const auto& s = f["sense"];
        failure = {Kind::CheckCondition,   0,
                   s.at(0).get<uint8_t>(), s.at(1).get<uint8_t>(),
                   s.at(2).get<uint8_t>(), f.value("format", "fixed") == "descriptor"};
    }
    if (failure.kind == Kind::Errno && failure.value == 0)
        throw std::invalid_argument("a failure without a kind: " + f.dump());
    failure.only_op = f.value("op", -1);
    kernel.FailIoctls(node, failure, f.value("times", 1), f.value("after", 0));
}

struct Shim {
    std::unique_ptr<FakeKernel> kernel;
    std::string root;  // as KT62_LINUX_ROOT gives it
    fs::path dev;      // normalised root/dev
};

Shim* Load() {
    const char* config = std::getenv("KT62_FAKE_KERNEL");
    const char* root = std::getenv("KT62_LINUX_ROOT");
    if (config == nullptr || root == nullptr || *root == '\0') return nullptr;
    t_loading = true;
    auto shim = std::make_unique<Shim>();
    try {
        std::ifstream in(config);
        const nlohmann::json j = nlohmann::json::parse(in);
        const fs::path base = fs::absolute(config).parent_path();
        shim->root = root;
        shim->dev = (fs::path(root) / "dev").lexically_normal();
        shim->kernel = std::make_unique<FakeKernel>(root, base / "kernel-state");
        for (const auto& h : j.value("hosts", nlohmann::json::array())) {
            kt62::fake::HostSetup spec;
            spec.number = h.value("number", 0);
            spec.sg = h.value("sg", "sg" + std::to_string(spec.number));
            spec.block =
                h.value("block", std::string(1, static_cast<char>('a' + spec.number % 26)).insert(0, "sd"));
            spec.max_hw_sectors_kb = h.value("max_hw_sectors_kb", 512u);
            spec.ufs_json = h.value("ufs", nlohmann::json::object()).dump();
            spec.held = h.value("held", false);
            spec.open_error = h.contains("open_error") ? ErrnoOf(h["open_error"]) : 0;
            shim->kernel->AddHost(spec);
        }
        for (const auto& f : j.value("failures", nlohmann::json::array())) AddFailure(*shim->kernel, f);
        if (j.contains("log")) shim->kernel->LogTo((base / j["log"].get<std::string>()).string());
    } catch (const std::exception& e) {
        (void)std::fprintf(stderr, "fake kernel: %s: %s\n", config, e.what());
        std::abort();
    }
    t_loading = false;
    return shim.release();
}

// Set up at the first call after both variables are set, so that a program may set them itself.
Shim* Instance() {
    if (t_loading) return nullptr;
    static std::atomic<Shim*> shim{nullptr};
    static std::mutex mutex;
    Shim* s = shim.load(std::memory_order_acquire);
    if (s != nullptr || std::getenv("KT62_FAKE_KERNEL") == nullptr) return s;
    std::lock_guard lock(mutex);
    s = shim.load(std::memory_order_relaxed);
    if (s == nullptr) {
        s = Load();
        shim.store(s, std::memory_order_release);
    }
    return s;
}

// The fake kernel's node behind an absolute path, if any.
FakeKernel* NodeKernel(const char* path) {
    Shim* shim = Instance();
    if (shim == nullptr || path == nullptr || path[0] != '/' ||
        std::strncmp(path, shim->root.c_str(), shim->root.size()) != 0)
        return nullptr;
    const fs::path p = fs::path(path).lexically_normal();
    const auto rel = p.lexically_relative(shim->dev);
    if (rel.empty() || *rel.begin() == "..") return nullptr;
    return shim->kernel.get();
}

FakeKernel* FdKernel(int fd) {
    Shim* shim = Instance();
    return shim != nullptr && shim->kernel->Owns(fd) ? shim->kernel.get() : nullptr;
}

int Answer(int r) {
    if (r >= 0) return r;
    errno = -r;
    return -1;
}

mode_t ModeArg(int flags, va_list args) {
    return (flags & (O_CREAT | O_TMPFILE)) ? static_cast<mode_t>(va_arg(args, int)) : 0;
}

}  // namespace

extern "C" {

// open(2) and its variants: a node of the fake kernel's, or libc's own call. `flags` is the last
// named parameter of each; the mode follows it only when the flags create a file.
#define KT62_FAKE_OPEN(name, params, args)                                         \
    __attribute__((visibility("default"))) int name(KT62_UNPAREN params, ...) {    \
        va_list va;                                                                \
        va_start(va, flags);                                                       \
        const mode_t mode = ModeArg(flags, va);                                    \
        va_end(va);                                                                \
        if (FakeKernel* k = NodeKernel(path)) return Answer(k->Open(path, flags)); \
        static const auto next = Next<int (*)(KT62_UNPAREN params, ...)>(#name);   \
        return next(KT62_UNPAREN args, mode);                                      \
    }
#define KT62_UNPAREN(...) __VA_ARGS__
KT62_FAKE_OPEN(open, (const char* path, int flags), (path, flags))
KT62_FAKE_OPEN(open64, (const char* path, int flags), (path, flags))
KT62_FAKE_OPEN(openat, (int dirfd, const char* path, int flags), (dirfd, path, flags))
KT62_FAKE_OPEN(openat64, (int dirfd, const char* path, int flags), (dirfd, path, flags))

// What _FORTIFY_SOURCE builds call for open(path, flags).
__attribute__((visibility("default"))) int __open_2(const char* path, int flags) {
    if (FakeKernel* k = NodeKernel(path)) return Answer(k->Open(path, flags));
    static const auto next = Next<int (*)(const char*, int)>("__open_2");
    return next(path, flags);
}

__attribute__((visibility("default"))) int __open64_2(const char* path, int flags) {
    if (FakeKernel* k = NodeKernel(path)) return Answer(k->Open(path, flags));
    static const auto next = Next<int (*)(const char*, int)>("__open64_2");
    return next(path, flags);
}

__attribute__((visibility("default"))) int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (FakeKernel* k = FdKernel(fd)) return Answer(k->Ioctl(fd, request, arg));
    static const auto next = Next<int (*)(int, unsigned long, ...)>("ioctl");
    return next(fd, request, arg);
}

__attribute__((visibility("default"))) int close(int fd) {
    if (FakeKernel* k = FdKernel(fd)) {
        k->Close(fd);
        return 0;
    }
    static const auto next = Next<int (*)(int)>("close");
    return next(fd);
}

}  // extern "C"
