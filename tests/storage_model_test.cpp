// The engine against an in-memory model: thousands of random operations
// with the file re-opened and compared after each batch; a fault walk in
// which every write and allocation of a sequence fails in turn; and
// processes killed after a chosen platform step of their writes. After
// each failure the file must open, in the engine and in olefile, with
// every completed operation intact.
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "platform/plat_fault.h"
#include "stepped_child.h"
#include "storage_test_util.h"
#include "test_util.h"

namespace {

struct Element {
    bool storage = false;
    std::string data;
};

// Paths are "/a/b"; the root is "".
using Model = std::map<std::string, Element>;

enum class OpKind { CreateStream, CreateStorage, Write, Resize, Destroy, Rename, Copy };

struct Op {
    OpKind kind;
    std::string parent;  // storage path the element lives in
    std::string name;
    std::string other;   // new name (rename, copy)
    uint32_t offset = 0, length = 0, seed = 0;
};

std::string parent_of(const std::string& path) { return path.substr(0, path.rfind('/')); }
std::string name_of(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::vector<std::string> paths_where(const Model& m, bool storage) {
    std::vector<std::string> out;
    for (const auto& [p, e] : m)
        if (e.storage == storage) out.push_back(p);
    return out;
}

uint32_t random_size(std::mt19937& gen) {
    switch (gen() % 6) {
    case 0: return gen() % 64;
    case 1: return 4090 + gen() % 12;  // around the cutoff
    case 2: return gen() % 20000;
    case 3: return gen() % 70000;
    default: return gen() % 4096;
    }
}

Op random_op(const Model& m, std::mt19937& gen, bool withCopy) {
    std::vector<std::string> storages = paths_where(m, true);
    storages.push_back("");
    std::vector<std::string> streams = paths_where(m, false);
    std::vector<std::string> all = paths_where(m, true);
    all.insert(all.end(), streams.begin(), streams.end());
    auto pick = [&](const std::vector<std::string>& v) { return v[gen() % v.size()]; };
    auto fresh = [&](const std::string& parent) {
        for (;;) {
            std::string n = "e" + std::to_string(gen() % 40);
            if (!m.count(parent + "/" + n)) return n;
        }
    };
    Op op;
    op.seed = gen();
    for (;;) {
        switch (gen() % 10) {
        case 0:
        case 1:
            op.kind = OpKind::CreateStream;
            op.parent = pick(storages);
            op.name = "e" + std::to_string(gen() % 40);
            if (m.count(op.parent + "/" + op.name) && m.at(op.parent + "/" + op.name).storage) continue;
            op.length = random_size(gen);
            return op;
        case 2:
            op.kind = OpKind::CreateStorage;
            op.parent = pick(storages);
            op.name = fresh(op.parent);
            return op;
        case 3:
        case 4:
        case 5:
            if (streams.empty()) continue;
            op.kind = OpKind::Write;
            op.name = pick(streams);
            op.offset = uint32_t(gen() % (m.at(op.name).data.size() + 5000));
            op.length = random_size(gen) % 9000 + 1;
            return op;
        case 6:
            if (streams.empty()) continue;
            op.kind = OpKind::Resize;
            op.name = pick(streams);
            op.length = random_size(gen);
            return op;
        case 7:
            if (all.empty()) continue;
            op.kind = OpKind::Destroy;
            op.name = pick(all);
            return op;
        case 8:
            if (all.empty()) continue;
            op.kind = OpKind::Rename;
            op.name = pick(all);
            op.other = fresh(parent_of(op.name));
            return op;
        default:
            if (!withCopy || storages.size() < 2) continue;
            op.kind = OpKind::Copy;
            op.name = pick(storages);
            if (op.name.empty()) continue;
            op.other = fresh(parent_of(op.name));
            return op;
        }
    }
}

void remove_subtree(Model& m, const std::string& path) {
    for (auto it = m.begin(); it != m.end();)
        it = (it->first == path || it->first.rfind(path + "/", 0) == 0) ? m.erase(it) : std::next(it);
}

void apply_model(Model& m, const Op& op) {
    switch (op.kind) {
    case OpKind::CreateStream:
        m[op.parent + "/" + op.name] = {false, stream_bytes(op.length, op.seed)};
        break;
    case OpKind::CreateStorage: m[op.parent + "/" + op.name] = {true, ""}; break;
    case OpKind::Write: {
        std::string& d = m[op.name].data;
        if (d.size() < op.offset + op.length) d.resize(op.offset + op.length, '\0');
        d.replace(op.offset, op.length, stream_bytes(op.length, op.seed));
        break;
    }
    case OpKind::Resize: m[op.name].data.resize(op.length, '\0'); break;
    case OpKind::Destroy: remove_subtree(m, op.name); break;
    case OpKind::Rename: {
        std::string to = parent_of(op.name) + "/" + op.other;
        Model moved;
        for (auto it = m.begin(); it != m.end();) {
            if (it->first == op.name || it->first.rfind(op.name + "/", 0) == 0) {
                moved[to + it->first.substr(op.name.size())] = it->second;
                it = m.erase(it);
            } else {
                ++it;
            }
        }
        m.insert(moved.begin(), moved.end());
        break;
    }
    case OpKind::Copy: {
        std::string to = parent_of(op.name) + "/" + op.other;
        Model copied{{to, {true, ""}}};
        for (const auto& [p, e] : m)
            if (p.rfind(op.name + "/", 0) == 0) copied[to + p.substr(op.name.size())] = e;
        m.insert(copied.begin(), copied.end());
        break;
    }
    }
}

std::string model_listing(const Model& m) {
    std::string out;
    for (const auto& [p, e] : m)
        out += e.storage ? p + " storage\n"
                         : p + " stream " + std::to_string(e.data.size()) + " " + content_hash(e.data) + "\n";
    return out;
}

// Opens the storage at path below root in mode (root itself for "").
uint32_t open_path(StgStorage* root, const std::string& path, uint32_t mode, StgRef<StgStorage>& out,
                   std::vector<std::unique_ptr<StgRef<StgStorage>>>& keep) {
    StgStorage* cur = root;
    size_t at = 1;
    while (at <= path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        keep.push_back(std::make_unique<StgRef<StgStorage>>());
        std::u16string name = wide(path.substr(at, end - at));
        if (uint32_t rc = cur->ops->OpenStorage(cur, name.c_str(), nullptr, mode, nullptr, 0, keep.back()->put()))
            return rc;
        cur = keep.back()->get();
        at = end + 1;
    }
    cur->ops->AddRef(cur);
    *out.put() = cur;
    return TAV_S_OK;
}

uint32_t apply_engine(StgStorage* root, const Op& op) {
    std::vector<std::unique_ptr<StgRef<StgStorage>>> keep;
    StgRef<StgStorage> parent;
    std::string where = op.kind == OpKind::CreateStream || op.kind == OpKind::CreateStorage ? op.parent
                                                                                          : parent_of(op.name);
    if (uint32_t rc = open_path(root, where, kStgModeWrite, parent, keep)) return rc;
    StgStorage* p = parent.get();
    std::u16string name = wide(op.kind == OpKind::CreateStream || op.kind == OpKind::CreateStorage ? op.name
                                                                                                : name_of(op.name));
    switch (op.kind) {
    case OpKind::CreateStream: return put_stream(p, op.name, stream_bytes(op.length, op.seed));
    case OpKind::CreateStorage: {
        StgRef<StgStorage> s;
        return p->ops->CreateStorage(p, name.c_str(), kStgModeWrite, 0, 0, s.put());
    }
    case OpKind::Write:
    case OpKind::Resize: {
        StgRef<StgStream> s;
        if (uint32_t rc = p->ops->OpenStream(p, name.c_str(), nullptr, kStgModeWrite, 0, s.put())) return rc;
        if (op.kind == OpKind::Resize) return s->ops->SetSize(s.get(), op.length);
        uint64_t pos = 0;
        if (uint32_t rc = s->ops->Seek(s.get(), op.offset, kStgSeekSet, &pos)) return rc;
        std::string data = stream_bytes(op.length, op.seed);
        uint32_t done = 0;
        return s->ops->Write(s.get(), data.data(), op.length, &done);
    }
    case OpKind::Destroy: return p->ops->DestroyElement(p, name.c_str());
    case OpKind::Rename: return p->ops->RenameElement(p, name.c_str(), wide(op.other).c_str());
    case OpKind::Copy: {
        StgRef<StgStorage> src, dst;
        if (uint32_t rc = p->ops->OpenStorage(p, name.c_str(), nullptr, kStgModeRead, nullptr, 0, src.put()))
            return rc;
        if (uint32_t rc = p->ops->CreateStorage(p, wide(op.other).c_str(), kStgModeWrite, 0, 0, dst.put()))
            return rc;
        return src->ops->CopyTo(src.get(), 0, nullptr, nullptr, dst.get());
    }
    }
    return TAV_STG_E_INVALIDFUNCTION;
}

TEST(StorageModel, ThousandsOfRandomOperationsMatchTheModel) {
    TempDir dir;
    std::string path = dir.file("model.cfb");
    std::mt19937 gen(20240611);
    Model model;
    StgRef<StgStorage> root;
    ASSERT_EQ(create_root(path, root), TAV_S_OK);
    constexpr int kBatches = 30, kPerBatch = 100;
    for (int b = 0; b < kBatches; ++b) {
        for (int i = 0; i < kPerBatch; ++i) {
            Op op = random_op(model, gen, true);
            ASSERT_EQ(apply_engine(root.get(), op), TAV_S_OK) << "batch " << b << " op " << i;
            apply_model(model, op);
        }
        root.reset();
        ASSERT_EQ(engine_listing(path), model_listing(model)) << "after batch " << b;
        ASSERT_EQ(open_root(path, kStgModeWrite, root), TAV_S_OK);
    }
    root.reset();
    std::string listing = olefile_listing(path, true);
    EXPECT_EQ(listing, model_listing(model));
}

// A fixed sequence of writes and resizes on a file that holds some data.
std::vector<Op> fault_sequence(Model& base, std::mt19937& gen, size_t count) {
    std::vector<Op> ops;
    Model m = base;
    while (ops.size() < count) {
        Op op = random_op(m, gen, false);
        apply_model(m, op);
        ops.push_back(op);
    }
    return ops;
}

// Makes the base file and model: a few streams and a storage.
void make_base(const std::string& path, Model& model, std::mt19937& gen) {
    StgRef<StgStorage> root;
    ASSERT_EQ(create_root(path, root), TAV_S_OK);
    for (int i = 0; i < 12; ++i) {
        Op op = random_op(model, gen, false);
        if (op.kind != OpKind::CreateStream && op.kind != OpKind::CreateStorage) continue;
        ASSERT_EQ(apply_engine(root.get(), op), TAV_S_OK);
        apply_model(model, op);
    }
}

// The model after each prefix of ops.
std::vector<Model> prefix_models(Model m, const std::vector<Op>& ops) {
    std::vector<Model> out{m};
    for (const Op& op : ops) {
        apply_model(m, op);
        out.push_back(m);
    }
    return out;
}

// The content of the stream at path ("/a/b"), read through its storages;
// "<error N>" when it cannot be read.
std::string read_path(const std::string& file, const std::string& path) {
    StgRef<StgStorage> root, parent;
    std::vector<std::unique_ptr<StgRef<StgStorage>>> keep;
    if (uint32_t rc = open_root(file, kStgModeRead, root)) return "<error " + std::to_string(rc) + ">";
    if (uint32_t rc = open_path(root.get(), parent_of(path), kStgModeRead, parent, keep))
        return "<error " + std::to_string(rc) + ">";
    return get_stream(parent.get(), name_of(path));
}

// Whether the file holds `before` with op applied or not, or, for a write
// cut short (its bytes go to their places directly, the size and the new
// sectors come with the entry written last), every other element as
// before and the written stream at its old size, each byte outside the
// written range as before and each inside it as before or as written.
bool intact(const std::string& path, const Model& before, const Model* after, const Op* op) {
    std::string got = engine_listing(path);
    if (got == model_listing(before) || (after && got == model_listing(*after))) return true;
    if (op && op->kind == OpKind::CreateStream) {
        // Two platform calls: the stream made (or emptied), then written.
        Model mid = before;
        mid[op->parent + "/" + op->name] = {false, ""};
        return got == model_listing(mid);
    }
    if (!op || op->kind != OpKind::Write) return false;
    Model others = before;
    others.erase(op->name);
    std::string rest;
    for (size_t at = 0; at < got.size();) {
        size_t end = got.find('\n', at) + 1;
        std::string line = got.substr(at, end - at);
        if (line.rfind(op->name + " ", 0) != 0) rest += line;
        at = end;
    }
    if (rest != model_listing(others)) return false;
    std::string data = read_path(path, op->name);
    const std::string& old = before.at(op->name).data;
    if (data.size() != old.size()) return false;
    std::string written = stream_bytes(op->length, op->seed);
    for (size_t i = 0; i < data.size(); ++i) {
        bool inRange = i >= op->offset && i - op->offset < op->length;
        if (data[i] != old[i] && !(inRange && data[i] == written[i - op->offset])) return false;
    }
    return true;
}

TEST(StorageModel, EveryFailedWriteOrAllocationLeavesEarlierOperationsIntact) {
    TempDir dir;
    std::string base = dir.file("base.cfb"), work = dir.file("work.cfb");
    std::mt19937 gen(99);
    Model model;
    make_base(base, model, gen);
    std::vector<Op> ops = fault_sequence(model, gen, 14);
    std::vector<Model> expected = prefix_models(model, ops);
    const std::string baseBytes = [&] {
        auto v = read_file(base);
        return std::string(v.begin(), v.end());
    }();
    struct Kind {
        PlatStep step;
        PlatFailure failure;
    };
    int points = 0;
    for (Kind kind : {Kind{PlatStep::Write, PlatFailure::Short}, Kind{PlatStep::Write, PlatFailure::NoSpace},
                      Kind{PlatStep::Alloc, PlatFailure::Error}}) {
        for (uint32_t nth = 1;; ++nth) {
            write_file(work, baseBytes);
            size_t done = 0;
            uint32_t rc = 0;
            {
                StgRef<StgStorage> root;
                ASSERT_EQ(open_root(work, kStgModeWrite, root), TAV_S_OK);
                plat_fault_arm({kind.step, nth, kind.failure, false});
                for (; done < ops.size(); ++done)
                    if ((rc = apply_engine(root.get(), ops[done]))) break;
                plat_fault_disarm();
            }
            bool fired = plat_fault_fired();
            if (!fired) {
                ASSERT_EQ(done, ops.size());
                break;
            }
            ++points;
            ASSERT_NE(rc, 0u) << "step " << nth;
            std::string got = engine_listing(work);
            // The operation under way may or may not have reached the file.
            EXPECT_TRUE(intact(work, expected[done], &expected[done + 1], &ops[done]))
                << "step kind " << int(kind.step) << " #" << nth << " failed op " << done << " kind "
                << int(ops[done].kind) << ":\n" << got;
            if (nth % 25 == 1) {
                EXPECT_EQ(olefile_listing(work, false), got) << "step " << nth;
            }
        }
    }
    EXPECT_GT(points, 100);
    std::printf("fault points walked: %d\n", points);
}

// Runs a sequence of operations in a child that stops after every platform
// step, and kills it after `killAt` steps (0: lets it finish). The number
// of operations the child completed; *steps gets the steps it took.
size_t run_stepped(const std::string& work, const std::vector<Op>& ops, int killAt, int* steps) {
    int report[2];
    if (pipe(report) != 0) return 0;
    SteppedChild child([&] {
        close(report[0]);
        StgStorage* root = nullptr;
        if (StgOpenStorage(wide(work).c_str(), nullptr, kStgModeWrite, nullptr, 0, &root)) return 2;
        for (size_t i = 0; i < ops.size(); ++i) {
            if (apply_engine(root, ops[i])) return 3;
            uint8_t n = uint8_t(i + 1);
            (void)!write(report[1], &n, 1);
        }
        root->ops->Release(root);
        return 0;
    });
    close(report[1]);
    int taken = 0;
    for (char c = child.next(); c != SteppedChild::kDone && c != 0; c = child.next()) {
        if (++taken == killAt) {
            child.kill_now();
            break;
        }
        child.go_on();
    }
    if (taken != killAt) child.finish();
    uint8_t completed = 0, n = 0;
    while (read(report[0], &n, 1) == 1) completed = n;
    close(report[0]);
    if (steps) *steps = taken;
    return completed;
}

// Sequences of writes killed after a chosen platform step (no clock: the
// child reports each step and waits): every file opens, holds every
// operation completed before the kill, and the one under way is either
// done or not.
TEST(StorageModel, ProcessesKilledAtAnyStepLoseAtMostTheOperationUnderWay) {
    TempDir dir;
    std::string base = dir.file("base.cfb"), work = dir.file("work.cfb");
    std::mt19937 gen(5);
    Model model;
    make_base(base, model, gen);
    auto baseBytes = read_file(base);
    constexpr int kSequences = 200;
    // The steps a whole sequence takes, to spread the kills over.
    int sequenceSteps = 0;
    {
        Model m = model;
        std::mt19937 probe(1);
        write_file(work, baseBytes);
        run_stepped(work, fault_sequence(m, probe, 20), 0, &sequenceSteps);
        ASSERT_GT(sequenceSteps, 20);
    }
    int killedMidway = 0;
    for (int s = 0; s < kSequences; ++s) {
        std::vector<Op> ops = fault_sequence(model, gen, 20);
        std::vector<Model> expected = prefix_models(model, ops);
        write_file(work, baseBytes);
        int killAt = 1 + int(gen() % uint32_t(sequenceSteps + sequenceSteps / 10));
        size_t completed = run_stepped(work, ops, killAt, nullptr);
        if (completed < ops.size()) ++killedMidway;
        std::string got = engine_listing(work);
        bool last = completed == ops.size();
        EXPECT_TRUE(intact(work, expected[completed], last ? nullptr : &expected[completed + 1],
                           last ? nullptr : &ops[completed]))
            << "sequence " << s << " completed " << completed << " kill " << killAt << " op "
            << (last ? -1 : int(ops[completed].kind)) << " " << (last ? "" : ops[completed].name) << " "
            << (last ? 0u : ops[completed].offset) << " " << (last ? 0u : ops[completed].length)
            << ":\n" << got << "before:\n" << model_listing(expected[completed]) << "after:\n"
            << (last ? "" : model_listing(expected[completed + 1]));
        EXPECT_EQ(olefile_listing(work, false), got) << "sequence " << s;
    }
    std::printf("killed sequences checked: %d (killed before their end: %d)\n", kSequences,
                killedMidway);
    EXPECT_GT(killedMidway, kSequences / 2);
}

}  // namespace
