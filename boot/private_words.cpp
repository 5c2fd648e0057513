// The private context of the system's own code (see private_words.hpp).
#include "boot/private_words.hpp"

#include <unordered_set>
#include <utility>
#include <vector>

#include "runtime/collector.hpp"
#include "runtime/memory.hpp"
#include "runtime/words.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/symbol.hpp"

namespace zuv::private_words {

namespace {

// The private context, and for each value index of the global context the
// index of its copy there (-1: the word stays global).
Node snapshot = 0;
std::vector<int32_t> private_index;

bool nested_q(uint32_t type) {
    switch (type) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH: case TYPE_GET_PATH:
    case TYPE_HASH: return true;
    default: return false;
    }
}

int32_t length_of(Node node) { return node ? memory::length_of(memory::buffer_of(node)) : 0; }
const Cell* cell_in(Node node, int32_t i) { return memory::cells_head(memory::buffer_of(node)) + i; }
Cell* cell_to_change(Node node, int32_t i) { return memory::cells_for_write(memory::buffer_of(node)) + i; }

// The global value index of a word bound to the global context, or -1.
int32_t global_index(const Cell* word) {
    if (word->w1 != _context::global) return -1;
    int32_t index = int32_t(word->w3);
    return index >= 0 ? index : _context::find_word(_context::global, int32_t(word->w2), true);
}

bool named_set_q(const Cell* c) {
    if (type_of(c) != TYPE_WORD) return false;
    return symbol::resolve(int32_t(c->w2)) == symbol::resolve(sym::set);
}

// `set` or `set/...`: the lit-word after it names a word that code writes.
bool set_call_q(const Cell* c) {
    if (named_set_q(c)) return true;
    if (type_of(c) != TYPE_PATH || length_of(c->w2) == 0) return false;
    return named_set_q(cell_in(c->w2, 0));
}

// One pass over the system's code, allocating nothing: the global words it
// reads (and where), and those it writes.
class Walk {
public:
    std::vector<uint8_t> read, written;
    std::vector<std::pair<Node, int32_t>> reads;

    void from_global() {
        context(_context::global);
        while (!pending_.empty()) {
            Cell v = pending_.back();
            pending_.pop_back();
            value(v);
        }
    }

private:
    std::vector<uint64_t> seen_;  // one bit per node id
    std::vector<Cell> pending_;
    std::vector<Node> blocks_;  // code blocks still to scan

    bool first_visit(Node node) {
        if (!node) return false;
        size_t word = node >> 6;
        uint64_t bit = uint64_t(1) << (node & 63);
        if (word >= seen_.size()) seen_.resize(word + word / 2 + 16, 0);
        if (seen_[word] & bit) return false;
        seen_[word] |= bit;
        return true;
    }

    void mark(std::vector<uint8_t>& marks, int32_t index) {
        if (index < 0) return;
        if (size_t(index) >= marks.size()) marks.resize(size_t(index) + 1, 0);
        marks[size_t(index)] = 1;
    }

    void value(Cell v) {
        switch (type_of(&v)) {
        case TYPE_OP: pending_.push_back(op::unwrap(&v)); break;
        case TYPE_NATIVE: case TYPE_ACTION: case TYPE_ROUTINE: spec(v.w2); break;
        case TYPE_FUNCTION:
            spec(v.w2);
            if (const Cell* body = function::more_cell(&v, function::MORE_BODY); body && nested_q(type_of(body)))
                code(body->w2);
            break;
        case TYPE_OBJECT: case TYPE_PORT: context(v.w1); break;
        default: break;
        }
    }

    void context(Node ctx) {
        if (!first_visit(ctx)) return;
        int32_t n = _context::word_count(ctx);
        for (int32_t i = 0; i < n; i++)
            if (const Cell* slot = _context::value_slot(ctx, i)) pending_.push_back(*slot);
    }

    // A spec's type blocks: the datatype and typeset words of its arguments.
    void spec(Node node) {
        for (int32_t i = 0, n = length_of(node); i < n; i++) {
            const Cell* c = cell_in(node, i);
            if (type_of(c) == TYPE_BLOCK) code(c->w2);
        }
    }

    void code(Node root) {
        blocks_.push_back(root);
        while (!blocks_.empty()) {
            Node node = blocks_.back();
            blocks_.pop_back();
            if (!first_visit(node)) continue;
            for (int32_t i = 0, n = length_of(node); i < n; i++) {
                const Cell* c = cell_in(node, i);
                switch (type_of(c)) {
                case TYPE_WORD: case TYPE_GET_WORD:
                    if (int32_t index = global_index(c); index >= 0) {
                        mark(read, index);
                        reads.emplace_back(node, i);
                    }
                    break;
                case TYPE_SET_WORD: mark(written, global_index(c)); break;
                case TYPE_LIT_WORD:
                    if (i > 0 && set_call_q(cell_in(node, i - 1))) mark(written, global_index(c));
                    break;
                case TYPE_FUNCTION: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_OP: case TYPE_ROUTINE:
                case TYPE_OBJECT: case TYPE_PORT:
                    pending_.push_back(*c);
                    break;
                default:
                    if (nested_q(type_of(c))) blocks_.push_back(c->w2);
                    break;
                }
            }
        }
    }
};

bool marked(const std::vector<uint8_t>& marks, int32_t index) {
    return index >= 0 && size_t(index) < marks.size() && marks[size_t(index)];
}

// The index in the private context of the copy of a global value index, or -1.
int32_t private_copy(int32_t index) {
    return index >= 0 && size_t(index) < private_index.size() ? private_index[size_t(index)] : -1;
}

// The word bound to the private copy when it has one.
void rebind_word(Cell* word) {
    int32_t copy = private_copy(global_index(word));
    if (copy < 0) return;
    word->w1 = snapshot;
    word->w3 = uint32_t(copy);
}

}  // namespace

void seal(std::initializer_list<const char*> called_by_name) {
    Walk walk;
    walk.from_global();
    for (const char* name : called_by_name) {
        int32_t index = _context::find_word(_context::global, symbol::make(name), true);
        if (index < 0) continue;
        if (size_t(index) >= walk.read.size()) walk.read.resize(size_t(index) + 1, 0);
        walk.read[size_t(index)] = 1;
    }

    // The copies: the words read and never written, with a value at the end
    // of start-up (a case variant's entry shares its value index).
    Node global = _context::global;
    int32_t entries = _context::word_count(global);
    std::vector<int32_t> chosen;
    private_index.assign(walk.read.size(), -1);
    for (int32_t j = 0; j < entries; j++) {
        int32_t index = int32_t(_context::get_word_cell(global, j)->w3);
        if (!marked(walk.read, index) || marked(walk.written, index) || private_index[size_t(index)] >= 0) continue;
        const Cell* slot = _context::value_slot(global, index);
        if (!slot || type_of(slot) == TYPE_UNSET) continue;
        private_index[size_t(index)] = int32_t(chosen.size());
        chosen.push_back(j);
    }
    collector::add_root_node(&snapshot);
    snapshot = _context::create(int32_t(chosen.size()), false, false, 0, _context::KIND_OBJECT);
    for (int32_t j : chosen) {
        Cell entry = *_context::get_word_cell(global, j);
        Cell value = *_context::value_slot(global, int32_t(entry.w3));
        entry.w1 = 0;  // only its symbol is used: the copy gets a word of its own
        _context::put_value(snapshot, &entry, &value);
    }

    // Node positions stay valid across the allocations above; cells are
    // re-read from them.
    for (const auto& [node, i] : walk.reads) rebind_word(cell_to_change(node, i));
}

const Cell* system_value(const char* name) {
    int32_t index = _context::find_word(_context::global, symbol::make(name), true);
    if (index < 0) return nullptr;
    int32_t copy = private_copy(index);
    const Cell* slot = copy >= 0 ? _context::value_slot(snapshot, copy) : _context::value_slot(_context::global, index);
    return slot && type_of(slot) != TYPE_UNSET ? slot : nullptr;
}

void rebind(Cell* block) {
    if (!snapshot || !nested_q(type_of(block))) return;
    std::unordered_set<Node> seen;
    std::vector<Node> blocks{block->w2};
    while (!blocks.empty()) {
        Node node = blocks.back();
        blocks.pop_back();
        if (!node || !seen.insert(node).second) continue;
        for (int32_t i = 0, n = length_of(node); i < n; i++) {
            const Cell* c = cell_in(node, i);
            uint32_t type = type_of(c);
            if (type == TYPE_WORD || type == TYPE_GET_WORD) rebind_word(cell_to_change(node, i));
            else if (nested_q(type)) blocks.push_back(c->w2);
        }
    }
}

}  // namespace zuv::private_words
