# The stack of libraries, lowest first: name, folder under src/, rank. A layer includes and links
# only layers of a lower rank; layers of one rank are peers and never see each other. Each layer is
# one static library kv_<name> built from its folder (subfolders included).
set(KV_LAYER_TABLE
  platform       platform        0   # the host system: modules, key store, shell, locks
  kernel_base    kernel/base     1   # messages, memory, text, file readers, abort hook, constants
  geometry       geometry        2
  KVWOG5         KVWOG5          3   # B-spline surface evaluation and offsets
  contour        contour         4   # 2D contours and their offsets
  surfaces       surfaces        5   # surface and mesh files, facetting, iso-lines
  collision      collision       6   # tool assembly against meshes
  kernel_ncout   kernel/ncout    7   # NC records, channels, POF, the core library
  kernel_cycle   kernel/cycle    8   # cycle records, slots, start, run phases, the 3D common cycle
  avoidance      avoidance       9
  plunge         plunge          10
  pocket         pocket          10
  kernel_exports kernel/exports  11  # the host's four entries
)
# The run-time loaded companions (src/platform/lib*) are never linked into the stack; they may
# include up to this layer.
set(KV_COMPANION_TOP surfaces)

set(KV_LAYERS "")
list(LENGTH KV_LAYER_TABLE kv_n)
math(EXPR kv_last "${kv_n} - 1")
foreach(i RANGE 0 ${kv_last} 3)
  math(EXPR j "${i} + 1")
  math(EXPR k "${i} + 2")
  list(GET KV_LAYER_TABLE ${i} name)
  list(GET KV_LAYER_TABLE ${j} dir)
  list(GET KV_LAYER_TABLE ${k} rank)
  list(APPEND KV_LAYERS ${name})
  set(KV_LAYER_DIR_${name} ${dir})
  set(KV_LAYER_RANK_${name} ${rank})
endforeach()
list(GET KV_LAYERS -1 KV_TOP_LAYER_NAME)
