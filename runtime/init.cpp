// Runtime initialisation and release.
//
// The steps run in a fixed order: each uses what the earlier ones made (the
// registrations need the tables, the root block needs the frames, the boot
// image needs the symbol table, the natives and the stacks). Steps whose
// subject does not exist yet are kept as comments in their place.
#include "runtime/init.hpp"

#include "boot/boot_texts.hpp"
#include "console/console_io.hpp"
#include "library/routines.hpp"
#include "evaluator/actions.hpp"
#include "evaluator/callbacks.hpp"
#include "evaluator/interpreter.hpp"
#include "evaluator/natives.hpp"
#include "evaluator/natives_eval.hpp"
#include "evaluator/natives_transcode.hpp"
#include "evaluator/parse.hpp"
#include "evaluator/random.hpp"
#include "services/checksum.hpp"
#include "services/deflate.hpp"
#include "evaluator/stack.hpp"
#include "lexer/lexer.hpp"
#include "runtime/case_folding.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/collector.hpp"
#include "runtime/externals.hpp"
#include "runtime/memory.hpp"
#include "runtime/os.hpp"
#include "runtime/output_hooks.hpp"
#include "runtime/ownership.hpp"
#include "runtime/root.hpp"
#include "runtime/runtime.hpp"
#include "runtime/slots.hpp"
#include "runtime/symbols.hpp"
#include "runtime/words.hpp"
#include "runtime/datatypes/binary.hpp"
#include "runtime/datatypes/bitset.hpp"
#include "runtime/datatypes/block.hpp"
#include "runtime/datatypes/char.hpp"
#include "runtime/datatypes/context.hpp"
#include "runtime/datatypes/datatype.hpp"
#include "runtime/datatypes/email.hpp"
#include "runtime/datatypes/error.hpp"
#include "runtime/datatypes/file.hpp"
#include "runtime/datatypes/float.hpp"
#include "runtime/datatypes/function.hpp"
#include "runtime/datatypes/handle.hpp"
#include "runtime/datatypes/hash_type.hpp"
#include "runtime/datatypes/image.hpp"
#include "runtime/datatypes/integer.hpp"
#include "runtime/datatypes/issue.hpp"
#include "runtime/datatypes/logic.hpp"
#include "runtime/datatypes/map.hpp"
#include "runtime/datatypes/money.hpp"
#include "runtime/datatypes/native.hpp"
#include "runtime/datatypes/none.hpp"
#include "runtime/datatypes/object.hpp"
#include "runtime/datatypes/pair.hpp"
#include "runtime/datatypes/path.hpp"
#include "runtime/datatypes/percent.hpp"
#include "runtime/datatypes/port.hpp"
#include "runtime/datatypes/ref.hpp"
#include "runtime/datatypes/point.hpp"
#include "runtime/datatypes/registry.hpp"
#include "runtime/datatypes/series.hpp"
#include "runtime/datatypes/string.hpp"
#include "runtime/datatypes/symbol.hpp"
#include "runtime/datatypes/tag.hpp"
#include "runtime/datatypes/typeset.hpp"
#include "runtime/datatypes/vector.hpp"
#include "runtime/datatypes/date.hpp"
#include "runtime/datatypes/time.hpp"
#include "runtime/datatypes/triple.hpp"
#include "runtime/datatypes/tuple.hpp"
#include "runtime/datatypes/unset.hpp"
#include "runtime/datatypes/url.hpp"
#include "runtime/datatypes/word.hpp"

namespace zuv::runtime {

bool boot_flag = false;

void init() {
    boot_flag = true;
    output_hooks::init();
    platform::init();
    random::init();                  // the random generator's state and the hash seed
    memory::init();
    externals::init();

    // The type-name table and the action table are static arrays
    // (datatype::type_names, datatype::action_table): nothing to allocate.

    // ---- Datatype registrations, parents before children -----------------
    // datatype! unset! none! logic! series! block! string! binary! integer!
    // symbol! context! word! lit-word! set-word! get-word! refinement! char!
    // native! action! op! path! lit-path! set-path! get-path! function!
    // routine! paren! issue! url! file! object! bitset! triple! float!
    // typeset! error! vector! map! hash! pair! percent! tuple! time! tag!
    // email! handle! date! port! money! ref! point2D! point3D!, then the
    // image backend's set-up, then image!. (event! is registered later by
    // the library's top level.)
    datatype::register_datatype();
    unset::register_type();
    none::register_type();
    logic::register_type();
    series::register_type();
    block::register_type();
    string::register_type();         // after series!, before its text children
    binary::register_type();         // a child of string!
    integer::register_type();
    symbol::register_type();
    _context::register_type();
    word::register_type();
    lit_word::register_type();
    set_word::register_type();
    get_word::register_type();
    refinement::register_type();
    char_::register_type();
    native::register_type();         // char! comes before these three
    action::register_type();
    op::register_type();
    path::register_type();
    lit_path::register_type();
    set_path::register_type();
    get_path::register_type();
    function::register_type();       // function! and routine!, before paren!
    routine::register_type();
    paren::register_type();
    issue::register_type();          // children of word! and string!
    url::register_type();
    file::register_type();           // a child of url!
    object::register_type();         // after issue! url! file!
    triple::register_type();
    bitset::register_type();
    float_::register_type();         // after bitset! triple!
    typeset::register_type();
    error::register_type();
    vector::register_type();         // a child of string!
    map::register_type();
    hash::register_type();           // a child of block!
    pair::register_type();
    percent::register_type();        // after vector! map! hash! pair!; a child of float!
    tuple::register_type();
    time::register_type();           // after float! (its parent) and tuple!
    tag::register_type();
    email::register_type();
    handle::register_type();         // a child of integer!
    date::register_type();           // after time! and handle!
    port::register_type();           // a child of object!
    money::register_type();          // after date! port!
    ref::register_type();
    point2D::register_type();
    point3D::register_type();
    image::register_type();          // with the image backend's set-up
    // ---- end of the datatype registrations ---------------------------------

    actions::init();                 // the action entry table
    memory::new_node_frame();
    memory::new_series_frame();
    make_root_block();
    stack::make_blocks(&root);
    symbol::make_table_block(&root, 4000);
    _context::init_global(4000);
    case_folding::init_tables();
    symbol::make_table(4000);
    datatype::init_type_words();
    well_known::init_words();
    well_known::init_refinements();
    well_known::init_issue();
    natives::init();
    natives::register_output_routines();  // last-lf?
    library::register_routines();    // the type tests, quit-return, start-up helpers
    console_io::register_routines(); // standard input and the console's set-up
    parse::init();
    ownership::init();               // the owners table for reactivity
    checksum::init_words();
    deflate::init_words();
    // call::init();                 the capture buffer for child processes
    stack::init();
    error_catalog::init();           // until the boot image brings system/catalog/errors
    error::init();                   // and system/standard/error
    port::init();                    // and system/standard/port, url-parts and system/schemes
    lexer::init();
    boot_texts::load();              // the boot code into the root block, in manifest order
    interpreter::init();
    natives::install_lexer_callback();  // lexer events call language-level callbacks
    interpreter::install_comparator();  // sort/compare calls language-level functions
    boot_texts::define_builtins();   // the actions and natives, until the boot image holds them
    typeset::init_words();           // number!, series! ... until the boot image holds them
    boot_texts::define_base();       // true, false, none and the infix operators
    handle::define_null_handle();    // the word null-handle
    slots::init();                   // the slot table
    collector::init();               // the collector stays disabled until start-up enables it
}

void release() {
    memory::release_all();
    free_all_memory();
}

}  // namespace zuv::runtime
