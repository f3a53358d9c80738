// The engine's bookkeeping: symbols and variable tables, entry pool, call frames with their @error and
// @extended, and the levels of the line executor.
#include "core/engine.h"

#include "core/interp.h"
#include "core/compiled.h"

#include "core/errors.h"
#include "core/script_store.h"

namespace tx {

ObjectHooks& objectHooks() {
    static ObjectHooks hooks;
    return hooks;
}

PluginCallHook g_pluginCall = nullptr;
TokenLine* g_lines = nullptr;

Engine& engine() {
    static Engine e;
    return e;
}

// ---------------------------------------------------------------------------------------------------
// NameIndex

uint32_t NameIndex::hashOf(u16view s) {
    uint32_t h = 2166136261u;
    for (char16_t c : s) {
        h ^= c;
        h *= 16777619u;
    }
    return h | 1u;  // 0 marks an empty slot
}

int NameIndex::find(u16view name) const {
    if (slots_.empty()) return -1;
    uint32_t h = hashOf(name);
    size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        const Slot& s = slots_[i];
        if (s.hash == 0) return -1;
        if (s.hash == h && s.key.view() == name) return s.value;
    }
}

void NameIndex::grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.clear();
    slots_.resize(old.empty() ? 64 : old.size() * 2);
    size_t mask = slots_.size() - 1;
    for (Slot& s : old) {
        if (s.hash == 0) continue;
        size_t i = s.hash & mask;
        while (slots_[i].hash != 0) i = (i + 1) & mask;
        slots_[i] = std::move(s);
    }
}

void NameIndex::insert(const SString& name, int value) {
    if ((used_ + 1) * 2 > slots_.size()) grow();
    uint32_t h = hashOf(name.view());
    size_t mask = slots_.size() - 1;
    size_t i = h & mask;
    while (slots_[i].hash != 0) i = (i + 1) & mask;
    slots_[i].key = name;
    slots_[i].value = value;
    slots_[i].hash = h;
    ++used_;
}

void NameIndex::clear() {
    slots_.clear();
    used_ = 0;
}

// ---------------------------------------------------------------------------------------------------
// Engine

Engine::Engine() : rs(runState()) {
    frames_.push_back(std::make_unique<Frame>());
    frames_[0]->serial = nextSerial_++;
    serial_ = frames_[0]->serial;
    values_.reserve(256);
    ops_.reserve(256);
    blocks_.reserve(64);
}

Engine::~Engine() = default;

void Engine::setError(int32_t code, bool byScript) {
    Frame& f = frame();
    f.error = code;
    f.errorByScript = byScript;
}

void Engine::setExtended(int32_t value, bool byScript) {
    Frame& f = frame();
    f.extended.setInt32(value);
    f.extendedByScript = byScript;
}

void Engine::setExtendedValue(const Variant& value) {
    Frame& f = frame();
    f.extended = value;
    f.extendedByScript = false;
}

int32_t Engine::error() const { return frame().error; }

const Variant& Engine::extended() const { return frame().extended; }

VarEntry* Engine::allocEntry() {
    if (!freeList_) {
        constexpr size_t kChunk = 256;
        entryChunks_.push_back(std::make_unique<VarEntry[]>(kChunk));
        VarEntry* chunk = entryChunks_.back().get();
        for (size_t i = 0; i < kChunk; ++i) {
            chunk[i].nextFree = freeList_;
            freeList_ = &chunk[i];
        }
    }
    VarEntry* e = freeList_;
    freeList_ = e->nextFree;
    e->nextFree = nullptr;
    e->ptr = &e->value;
    e->flags = 0;
    e->borrowed = false;
    return e;
}

void Engine::freeEntry(VarEntry* e) {
    e->value.clear();
    e->pin.reset();
    e->nextFree = freeList_;
    freeList_ = e;
}

uint32_t Engine::intern(u16view upperName) {
    int i = names_.find(upperName);
    if (i >= 0) return static_cast<uint32_t>(i);
    Symbol s;
    s.name = SString(upperName);
    symbols_.push_back(std::move(s));
    uint32_t id = static_cast<uint32_t>(symbols_.size() - 1);
    names_.insert(symbols_.back().name, static_cast<int>(id));
    return id;
}

uint32_t Engine::resolveSymbol(Token& t) {
    uint32_t id = intern(t.str.view());
    t.num.i32 = static_cast<int32_t>(id + 1);
    t.str = symbols_[id].name;
    return id;
}

int Engine::functionOf(Token& t) {
    uint32_t cached = static_cast<uint32_t>(t.num.i32);
    if (cached != 0 && cached <= funcs_.size() && funcs_[cached - 1].name.sharesBufferWith(t.str))
        return static_cast<int>(cached - 1);
    int i = funcNames_.find(t.str.view());
    if (i < 0) return -1;
    t.num.i32 = i + 1;
    t.str = funcs_[static_cast<size_t>(i)].name;
    return i;
}

int Engine::findUserFunction(u16view upperName) const { return funcNames_.find(upperName); }

VarEntry* Engine::lookupIn(uint32_t sym, Scope scope) {
    Symbol& s = symbols_[sym];
    switch (scope) {
        case Scope::Any:
            if (frameDepth_ > 0 && s.localSerial == frame().serial) return s.local;
            return s.global;
        case Scope::Local:
            if (frameDepth_ > 0) return s.localSerial == frame().serial ? s.local : nullptr;
            return s.global;
        case Scope::Global: return s.global;
        default: return nullptr;
    }
}

VarEntry* Engine::lookup(u16view upperName, Scope scope) {
    int i = names_.find(upperName);
    if (i < 0) return nullptr;
    return lookup(static_cast<uint32_t>(i), scope);
}

VarEntry* Engine::create(uint32_t sym, Scope scope, uint16_t flags, bool empty) {
    VarEntry* e = allocEntry();
    e->sym = sym;
    e->flags = flags;
    if (empty) e->value.setString(SString());
    Symbol& s = symbols_[sym];
    bool local = frameDepth_ > 0 && (scope == Scope::Any || scope == Scope::Local);
    if (local) {
        Frame& f = frame();
        e->prevLocal = s.local;
        e->prevSerial = s.localSerial;
        s.local = e;
        s.localSerial = f.serial;
        f.locals.push_back(e);
    } else {
        s.global = e;
    }
    return e;
}

VarEntry* Engine::declare(u16view upperName, Scope scope, uint16_t flags, const Variant& value) {
    uint32_t sym = intern(upperName);
    VarEntry* e = lookup(sym, scope == Scope::Any ? Scope::Local : scope);
    if (!e) e = create(sym, scope, flags);
    else e->flags = flags;
    *e->ptr = value;
    return e;
}

Frame& Engine::pushFrame(int funcId) {
    ++frameDepth_;
    if (static_cast<size_t>(frameDepth_) >= frames_.size()) frames_.push_back(std::make_unique<Frame>());
    Frame& f = *frames_[static_cast<size_t>(frameDepth_)];
    f.serial = nextSerial_++;
    serial_ = f.serial;
    f.funcId = funcId;
    f.isFunction = true;
    // A frame is left clean when popped (no locals, no return value, @extended Int32 0).
    f.hasReturn = false;
    f.error = 0;
    f.errorByScript = false;
    f.extendedByScript = false;
    return f;
}

void Engine::popFrame() {
    Frame& f = frame();
    for (size_t i = f.locals.size(); i-- > 0;) {
        VarEntry* e = f.locals[i];
        Symbol& s = symbols_[e->sym];
        s.local = e->prevLocal;
        s.localSerial = e->prevSerial;
        freeEntry(e);
    }
    f.locals.clear();
    f.returnValue.clear();
    f.extended.clear();
    --frameDepth_;
    serial_ = frame().serial;
}

void Engine::enterLevel(Level& l, int firstLine) {
    ++nesting_;
    l.nextLine = firstLine;
    l.returnFlag = false;
    l.failed = false;
    l.blockBase = blocks_.size();
    l.prev = level_;
    level_ = &l;
}

void Engine::leaveLevel(Level& l) {
    while (blocks_.size() > l.blockBase) blocks_.pop_back();
    level_ = l.prev;
    --nesting_;
}

}  // namespace tx
