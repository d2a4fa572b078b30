# Where `cmake --install` and the Debian package put KELMAR, each folder
# relative to the prefix (GNUInstallDirs), so that an installation can be
# made under any prefix and moved whole: kelmar-cli finds its figure module
# by the relative path from its own folder.
include(GNUInstallDirs)

# The figure module of kelmar-cli check: private to the program, loaded only
# by it, so in a folder of its own rather than on the library search path.
# On a multiarch system (Debian) that is lib/<triplet>/kelmar, where
# Debian keeps a package's private libraries (and no ldconfig run is due
# when the package is installed or removed); else lib/kelmar.
if(CMAKE_LIBRARY_ARCHITECTURE)
  set(module_dir "lib/${CMAKE_LIBRARY_ARCHITECTURE}/kelmar")
else()
  set(module_dir "${CMAKE_INSTALL_LIBDIR}/kelmar")
endif()
set(KELMAR_INSTALL_MODULEDIR "${module_dir}" CACHE STRING
    "Folder of kelmar-cli's figure module, relative to the prefix")
# The Python package kelmar: where Debian's python3 looks under its prefix
# (/usr/lib/python3/dist-packages). Another Python wants its own, e.g.
# `python3 -c "import sysconfig; print(sysconfig.get_path('platlib', vars={'platbase': '.'}))"`.
set(KELMAR_INSTALL_PYTHONDIR "lib/python3/dist-packages" CACHE STRING
    "Folder of the Python package kelmar, relative to the prefix")
foreach(dir IN ITEMS CMAKE_INSTALL_BINDIR KELMAR_INSTALL_MODULEDIR KELMAR_INSTALL_PYTHONDIR)
  if(IS_ABSOLUTE "${${dir}}")
    message(FATAL_ERROR "${dir} is '${${dir}}': it must be relative to the prefix, so that kelmar-cli finds "
                        "its figure module from its own folder wherever the installation lies")
  endif()
endforeach()

# The module's folder as kelmar-cli finds it: relative to its own folder.
file(RELATIVE_PATH KELMAR_MODULEDIR_FROM_BINDIR
     ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${KELMAR_INSTALL_MODULEDIR})

# The application's id: the name of its desktop entry, icon and AppStream
# metadata (reverse domain name, as AppStream asks for).
set(KELMAR_APP_ID "org.kelmar.Kelmar")
