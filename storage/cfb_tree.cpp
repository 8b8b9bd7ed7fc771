// The directory trees: each storage's children form a binary search tree in
// the format's name order, kept as a left-leaning red-black tree (a valid
// red-black tree). Changes run on the tree in memory, marking the nodes
// whose links or colours changed; publish_tree then writes them by path
// copying (see cfb_file.h).
#include <algorithm>
#include <ctime>

#include "storage/cfb_file.h"

using namespace cfb;

namespace {

// Simple upper-case mapping of the characters that have one in the Latin,
// Greek and Cyrillic blocks: what the format's name order compares.
char16_t upper(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c;
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 0x20);
    if (c == 0xFF) return 0x178;
    // Latin Extended-A: pairs of upper and lower case, the upper one even
    // in three runs and odd in two.
    bool evenUpper = (c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
    bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (evenUpper && (c & 1)) return char16_t(c - 1);
    if (oddUpper && !(c & 1)) return char16_t(c - 1);
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return char16_t(c - 0x20);  // Greek
    if (c >= 0x430 && c <= 0x44F) return char16_t(c - 0x20);                 // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);
    return c;
}

// 100-ns units since 1601-01-01 of the current time (storage entries carry
// their creation and change times).
uint64_t filetime_now() {
    constexpr uint64_t kUnixEpochAsFiletime = 116444736000000000ull;
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return kUnixEpochAsFiletime + uint64_t(ts.tv_sec) * 10000000ull + uint64_t(ts.tv_nsec) / 100;
}

}  // namespace

int cfb_compare(const CfbName& a, const CfbName& b) {
    if (a.len != b.len) return a.len < b.len ? -1 : 1;
    for (uint32_t i = 0; i < a.len; ++i) {
        char16_t x = upper(a.units[i]), y = upper(b.units[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

void CfbFile::children(uint32_t storage, StgVector<uint32_t>* out) {
    out->clear();
    StgVector<uint32_t> stack;
    uint32_t cur = nodes_[storage].child;
    while (cur != kNoNode || !stack.empty()) {
        for (; cur != kNoNode; cur = nodes_[cur].left) stack.push_back(cur);
        cur = stack.back();
        stack.pop_back();
        out->push_back(cur);
        cur = nodes_[cur].right;
    }
}

uint32_t CfbFile::find(uint32_t storage, const CfbName& name) {
    if (nodes_[storage].treeSorted) {
        for (uint32_t cur = nodes_[storage].child; cur != kNoNode;) {
            int c = cfb_compare(name, nodes_[cur].name);
            if (c == 0) return cur;
            cur = c < 0 ? nodes_[cur].left : nodes_[cur].right;
        }
        return kNoNode;
    }
    StgVector<uint32_t> all;
    children(storage, &all);
    for (uint32_t id : all)
        if (cfb_compare(name, nodes_[id].name) == 0) return id;
    return kNoNode;
}

bool CfbFile::in_subtree(uint32_t top, uint32_t id) {
    StgVector<uint32_t> stack{top}, kids;
    while (!stack.empty()) {
        uint32_t cur = stack.back();
        stack.pop_back();
        if (cur == id) return true;
        if (nodes_[cur].type == kTypeStream) continue;
        children(cur, &kids);
        stack.insert(stack.end(), kids.begin(), kids.end());
    }
    return false;
}

bool CfbFile::subtree_open(uint32_t id) {
    StgVector<uint32_t> stack{id}, kids;
    while (!stack.empty()) {
        uint32_t cur = stack.back();
        stack.pop_back();
        if (nodes_[cur].opens) return true;
        if (nodes_[cur].type == kTypeStream) continue;
        children(cur, &kids);
        stack.insert(stack.end(), kids.begin(), kids.end());
    }
    return false;
}

void CfbFile::set_left(uint32_t h, uint32_t v) {
    if (nodes_[h].left == v) return;
    nodes_[h].left = v;
    nodes_[h].moved = true;
    touched_.push_back(h);
}

void CfbFile::set_right(uint32_t h, uint32_t v) {
    if (nodes_[h].right == v) return;
    nodes_[h].right = v;
    nodes_[h].moved = true;
    touched_.push_back(h);
}

void CfbFile::set_color(uint32_t h, uint8_t color) {
    if (nodes_[h].color == color) return;
    nodes_[h].color = color;
    nodes_[h].recolored = true;
    touched_.push_back(h);
}

uint32_t CfbFile::rotate_left(uint32_t h) {
    uint32_t x = nodes_[h].right;
    set_right(h, nodes_[x].left);
    set_left(x, h);
    set_color(x, nodes_[h].color);
    set_color(h, kRed);
    return x;
}

uint32_t CfbFile::rotate_right(uint32_t h) {
    uint32_t x = nodes_[h].left;
    set_left(h, nodes_[x].right);
    set_right(x, h);
    set_color(x, nodes_[h].color);
    set_color(h, kRed);
    return x;
}

void CfbFile::flip_colors(uint32_t h) {
    for (uint32_t id : {h, nodes_[h].left, nodes_[h].right})
        if (id != kNoNode) set_color(id, nodes_[id].color ^ 1);
}

uint32_t CfbFile::balance(uint32_t h) {
    if (is_red(nodes_[h].right) && !is_red(nodes_[h].left)) h = rotate_left(h);
    if (is_red(nodes_[h].left) && is_red(left_of(nodes_[h].left))) h = rotate_right(h);
    if (is_red(nodes_[h].left) && is_red(nodes_[h].right)) flip_colors(h);
    return h;
}

uint32_t CfbFile::insert(uint32_t h, uint32_t id) {
    if (h == kNoNode) return id;
    if (cfb_compare(nodes_[id].name, nodes_[h].name) < 0)
        set_left(h, insert(nodes_[h].left, id));
    else
        set_right(h, insert(nodes_[h].right, id));
    return balance(h);
}

uint32_t CfbFile::move_red_left(uint32_t h) {
    flip_colors(h);
    uint32_t r = nodes_[h].right;
    if (is_red(left_of(r))) {
        set_right(h, rotate_right(r));
        h = rotate_left(h);
        flip_colors(h);
    }
    return h;
}

uint32_t CfbFile::move_red_right(uint32_t h) {
    flip_colors(h);
    if (is_red(left_of(nodes_[h].left))) {
        h = rotate_right(h);
        flip_colors(h);
    }
    return h;
}

uint32_t CfbFile::remove_min(uint32_t h, uint32_t* min) {
    uint32_t l = nodes_[h].left;
    if (l == kNoNode) {
        *min = h;
        return nodes_[h].right;
    }
    if (!is_red(l) && !is_red(left_of(l))) h = move_red_left(h);
    set_left(h, remove_min(nodes_[h].left, min));
    return balance(h);
}

uint32_t CfbFile::remove(uint32_t h, uint32_t id) {
    if (cfb_compare(nodes_[id].name, nodes_[h].name) < 0) {
        uint32_t l = nodes_[h].left;
        if (!is_red(l) && !is_red(left_of(l))) h = move_red_left(h);
        set_left(h, remove(nodes_[h].left, id));
        return balance(h);
    }
    if (is_red(nodes_[h].left)) h = rotate_right(h);
    if (h == id && nodes_[h].right == kNoNode) return nodes_[h].left;
    uint32_t r = nodes_[h].right;
    if (!is_red(r) && !is_red(left_of(r))) h = move_red_right(h);
    if (h == id) {
        // The smallest node of the right subtree takes the removed one's
        // place (the node itself moves: entries are elements, not keys).
        uint32_t min = kNoNode;
        uint32_t rest = remove_min(nodes_[h].right, &min);
        set_left(min, nodes_[h].left);
        set_right(min, rest);
        set_color(min, nodes_[h].color);
        h = min;
    } else {
        set_right(h, remove(nodes_[h].right, id));
    }
    return balance(h);
}

uint32_t CfbFile::tree_insert(uint32_t root, uint32_t id) {
    set_left(id, kNoNode);
    set_right(id, kNoNode);
    set_color(id, kRed);
    nodes_[id].moved = true;
    touched_.push_back(id);
    root = insert(root, id);
    set_color(root, kBlack);
    return root;
}

uint32_t CfbFile::tree_remove(uint32_t root, uint32_t id) {
    if (!is_red(nodes_[root].left) && !is_red(nodes_[root].right)) set_color(root, kRed);
    root = remove(root, id);
    if (root != kNoNode) set_color(root, kBlack);
    return root;
}

bool CfbFile::tree_is_llrb(uint32_t root) {
    // No red right links, no two reds in a row, a black root and the same
    // number of black links on every path; walked with an explicit stack.
    if (root == kNoNode) return true;
    if (is_red(root)) return false;
    struct Step {
        uint32_t id;
        uint32_t blacks;
    };
    StgVector<Step> stack{{root, 0}};
    uint32_t leafBlacks = kNoNode;
    while (!stack.empty()) {
        Step s = stack.back();
        stack.pop_back();
        if (s.id == kNoNode) {
            if (leafBlacks == kNoNode) leafBlacks = s.blacks;
            if (s.blacks != leafBlacks) return false;
            continue;
        }
        const CfbNode& n = nodes_[s.id];
        if (is_red(n.right) || (is_red(s.id) && is_red(n.left))) return false;
        uint32_t blacks = s.blacks + (is_red(s.id) ? 0 : 1);
        stack.push_back({n.left, blacks});
        stack.push_back({n.right, blacks});
    }
    return true;
}

uint32_t CfbFile::rebuild_tree(uint32_t storage) {
    StgVector<uint32_t> all;
    children(storage, &all);
    std::sort(all.begin(), all.end(),
              [&](uint32_t a, uint32_t b) { return cfb_compare(nodes_[a].name, nodes_[b].name) < 0; });
    for (size_t i = 1; i < all.size(); ++i)
        if (cfb_compare(nodes_[all[i - 1]].name, nodes_[all[i]].name) == 0)
            return TAV_STG_E_DOCFILECORRUPT;  // two elements of one name
    uint32_t root = kNoNode;
    for (uint32_t id : all) root = tree_insert(root, id);
    nodes_[storage].child = root;
    nodes_[storage].treeSorted = true;
    return TAV_S_OK;
}

uint32_t CfbFile::prepare_tree(uint32_t storage) {
    CfbNode& s = nodes_[storage];
    if (s.treeBalanced) return TAV_S_OK;
    // A tree another writer made is taken as it is when it is already
    // sorted and balanced our way, else rebuilt (in the same change).
    if (!(s.treeSorted && tree_is_llrb(s.child)))
        if (uint32_t rc = rebuild_tree(storage)) return rc;
    nodes_[storage].treeBalanced = true;
    return TAV_S_OK;
}

uint32_t CfbFile::publish_tree(uint32_t storage, uint32_t root) {
    // Nodes whose links changed, and every node on the path to one (its
    // link to it changes), go to fresh slots.
    StgVector<uint32_t> relocate;
    for (uint32_t t : touched_) {
        if (!nodes_[t].moved) continue;
        for (uint32_t cur = root; cur != kNoNode;) {
            CfbNode& c = nodes_[cur];
            if (!c.onPath) {
                c.onPath = true;
                relocate.push_back(cur);
            }
            if (cur == t) break;
            cur = cfb_compare(nodes_[t].name, c.name) < 0 ? c.left : c.right;
        }
    }
    for (uint32_t id : relocate) {
        if (nodes_[id].slot != kNoEntry) releaseSlots_.push_back(nodes_[id].slot);
        uint32_t slot;
        if (uint32_t rc = take_slot(&slot)) return rc;
        nodes_[id].slot = slot;
    }
    for (uint32_t id : relocate) mark_entry(id, false);
    nodes_[storage].child = root;
    mark_entry(storage, true);
    for (uint32_t t : touched_) {
        CfbNode& n = nodes_[t];
        if (n.recolored && !n.onPath && n.slot != kNoEntry) lateEntries_.push_back(t);
    }
    for (uint32_t t : touched_) nodes_[t].moved = nodes_[t].recolored = nodes_[t].onPath = false;
    for (uint32_t id : relocate) nodes_[id].onPath = false;
    touched_.clear();
    return TAV_S_OK;
}

uint32_t CfbFile::create_element(uint32_t storage, const CfbName& name, uint8_t type, uint32_t* out) {
    if (find(storage, name) != kNoNode) return TAV_STG_E_FILEALREADYEXISTS;
    if (uint32_t rc = prepare_tree(storage)) return fail(rc);
    uint32_t id;
    if (uint32_t rc = new_node(&id)) return fail(rc);
    CfbNode& n = nodes_[id];
    n.name = name;
    n.type = type;
    n.chainLoaded = true;
    n.treeSorted = n.treeBalanced = true;
    if (type == kTypeStorage) n.created = n.modified = filetime_now();
    uint32_t root = tree_insert(nodes_[storage].child, id);
    if (uint32_t rc = publish_tree(storage, root)) return rc;
    if (uint32_t rc = commit()) return rc;
    *out = id;
    return TAV_S_OK;
}

uint32_t CfbFile::destroy_element(uint32_t storage, uint32_t id) {
    if (uint32_t rc = prepare_tree(storage)) return fail(rc);
    uint32_t root = tree_remove(nodes_[storage].child, id);
    // The removed node leaves the tree: nothing of it is written again.
    nodes_[id].moved = nodes_[id].recolored = false;
    if (uint32_t rc = publish_tree(storage, root)) return rc;
    release_subtree(id);
    return commit();
}

uint32_t CfbFile::rename_element(uint32_t storage, uint32_t id, const CfbName& name) {
    uint32_t other = find(storage, name);
    if (other != kNoNode && other != id) return TAV_STG_E_FILEALREADYEXISTS;
    if (uint32_t rc = prepare_tree(storage)) return fail(rc);
    uint32_t root = tree_remove(nodes_[storage].child, id);
    nodes_[id].name = name;
    root = tree_insert(root, id);
    if (uint32_t rc = publish_tree(storage, root)) return rc;
    return commit();
}

uint32_t CfbFile::set_class(uint32_t id, const std::array<uint8_t, 16>& clsid, uint32_t stateBits) {
    nodes_[id].clsid = clsid;
    nodes_[id].stateBits = stateBits;
    mark_entry(id, true);
    return commit();
}
