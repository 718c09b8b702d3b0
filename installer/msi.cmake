# Makes VarnekIT's Windows Installer package from VarnekIT.wxs with wixl, and adds with msibuild
# (both from msitools) what wixl cannot write. The same program gives the same package, byte for
# byte: every code is made from what goes into the package, and no time of the build goes in.
#   cmake -DVERSION=1.0.2 -DPROGRAM_EXE=VarnekIT.exe -DICON=VarnekIT.ico -DHELP_LINK=https://...
#         -DARCH=x86|x64 -DOUTPUT=VarnekIT-1.0.2.msi -P msi.cmake
# ARCH x86 is the shipped package of the 32-bit program; x64 one of the 64-bit program (test
# builds, on machines that run no 32-bit programs).
# SOURCE_DATE_EPOCH, when set in the environment, is the time stamp of the package and its
# files; otherwise a fixed one.

foreach(variable IN ITEMS VERSION PROGRAM_EXE ICON HELP_LINK ARCH OUTPUT)
    if(NOT DEFINED ${variable} OR "${${variable}}" STREQUAL "")
        message(FATAL_ERROR "msi.cmake: give -D${variable}=...")
    endif()
endforeach()
if(NOT VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "msi.cmake: VERSION must be major.minor.revision: ${VERSION}")
endif()
if(ARCH STREQUAL "x86")
    set(win64 no)
elseif(ARCH STREQUAL "x64")
    set(win64 yes)
else()
    message(FATAL_ERROR "msi.cmake: ARCH must be x86 or x64: ${ARCH}")
endif()
find_program(WIXL wixl)
find_program(MSIBUILD msibuild)
if(NOT WIXL OR NOT MSIBUILD)
    message(FATAL_ERROR "msi.cmake needs wixl and msibuild (apt-get install wixl msitools)")
endif()

# The program's file version, from its version resource (VS_FIXEDFILEINFO, found by its
# signature and structure version): Windows Installer compares it with the version of a file
# in the program's place. It must be the package's version.
file(READ "${PROGRAM_EXE}" program_hex HEX)
string(FIND "${program_hex}" "bd04effe00000100" at)
math(EXPR odd "${at} % 2")
if(at LESS 0 OR odd)
    message(FATAL_ERROR "msi.cmake: ${PROGRAM_EXE} has no version resource")
endif()
set(file_version "")
# dwFileVersionMS (minor, major) and dwFileVersionLS (revision, build): 16-bit words, each
# least significant byte first.
foreach(word IN ITEMS 20 16 28 24)
    math(EXPR low "${at} + ${word}")
    math(EXPR high "${low} + 2")
    string(SUBSTRING "${program_hex}" ${low} 2 low)
    string(SUBSTRING "${program_hex}" ${high} 2 high)
    math(EXPR number "0x${high}${low}")
    list(APPEND file_version ${number})
endforeach()
list(JOIN file_version "." file_version)
if(NOT file_version STREQUAL "${VERSION}.0")
    message(FATAL_ERROR "msi.cmake: ${PROGRAM_EXE} is version ${file_version}, not ${VERSION}")
endif()

# The upgrade code is the same for every version: it is how a newer package finds the installed
# one and replaces it.
set(upgrade_code 2547F76E-42C3-4D25-A84B-E2C061DE9514)
# The other codes are made from names (UUID version 5) in the program's own namespace: the
# product code is new for every program (Intune and Configuration Manager tell builds apart by
# it); the components keep theirs for a machine type.
set(namespace 2E69360C-939B-4C92-9B2D-23AF3C1DF787)
file(SHA256 "${PROGRAM_EXE}" program_sha256)
string(UUID product_code NAMESPACE ${namespace}
       NAME "product ${ARCH} ${VERSION} ${program_sha256}" TYPE SHA1 UPPER)
string(UUID program_component NAMESPACE ${namespace} NAME "component ${ARCH} Program"
       TYPE SHA1 UPPER)
string(UUID autostart_component NAMESPACE ${namespace} NAME "component ${ARCH} Autostart"
       TYPE SHA1 UPPER)

if(DEFINED ENV{SOURCE_DATE_EPOCH})
    set(epoch $ENV{SOURCE_DATE_EPOCH})
else()
    set(epoch 1577836800) # 2020-01-01 00:00:00 UTC
endif()

# wixl and msibuild write times as local times: the same for every build machine.
set(ENV{TZ} UTC)

set(work "${OUTPUT}.work")
file(REMOVE_RECURSE "${work}")
file(MAKE_DIRECTORY "${work}")
# wixl takes the files by names relative to its working folder. The cabinet keeps the program's
# modification time: the copy gets the package's.
file(COPY_FILE "${PROGRAM_EXE}" "${work}/VarnekIT.exe")
file(COPY_FILE "${ICON}" "${work}/VarnekIT.ico")
execute_process(COMMAND touch -d @${epoch} "${work}/VarnekIT.exe" COMMAND_ERROR_IS_FATAL ANY)

# run(COMMAND...): runs a command; its failure stops with what it said.
function(run)
    execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${work}" RESULT_VARIABLE result
                    OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
        message(FATAL_ERROR "msi.cmake: ${ARGN} failed (${result}):\n${output}")
    endif()
endfunction()

set(package "${work}/VarnekIT.msi")
get_filename_component(here "${CMAKE_CURRENT_LIST_FILE}" DIRECTORY)
run(${WIXL} -a ${ARCH} -o "${package}" -D Version=${VERSION} -D ProductCode=${product_code}
    -D UpgradeCode=${upgrade_code}
    -D ProgramExe=VarnekIT.exe -D Icon=VarnekIT.ico -D "HelpLink=${HELP_LINK}"
    -D Win64=${win64} -D ProgramComponent=${program_component}
    -D AutostartComponent=${autostart_component} "${here}/VarnekIT.wxs")

# Removing the program removes what the program itself writes into its folder: the
# remote-control client, a downloaded new version and its replacement script, unfinished
# downloads (the target's name, a tag and ".download"; earlier versions wrote "<name>.download"),
# the old program an update moved aside, and temporary files of writes cut short. Then
# RemoveFolder removes the folder (VarnekIT.wxs). A row of the RemoveFile table each: its key
# and its file name as Windows Installer writes names, a short name for volumes without long
# names, "|" and the long name, where "*" and "?" are wildcards.
set(written_files
    "Client VARNEK~*.EXE|Varnek_TeamViewer.exe"
    "NewProgram NEW_VA~*.EXE|New_VarnekIT.exe"
    "ReplacementScript DELETE~*.BAT|DeleteOLD.bat"
    "NewProgramDownloads NEW_VA~*.DOW|New_VarnekIT.exe.*.download"
    "ClientDownloads VARNEK~*.DOW|Varnek_TeamViewer.exe.*.download"
    "EarlierDownloads *.DOW|*.exe.download"
    "AsideProgram VARNEK~*.OLD|VarnekIT.exe.old"
    "AsidePrograms VARNEK~*.OLD|VarnekIT.exe.*.old"
    "AsideClients VARNEK~*.OLD|Varnek_TeamViewer.exe.*.old"
    "WriteTemporaries vit*.tmp")
set(queries "")
foreach(row IN LISTS written_files)
    string(REPLACE " " ";" row "${row}")
    list(GET row 0 key)
    list(GET row 1 name)
    # InstallMode 2: when the component is removed.
    list(APPEND queries -q "INSERT INTO `RemoveFile` (`FileKey`, `Component_`, `FileName`, \
`DirProperty`, `InstallMode`) VALUES ('${key}', 'Program', '${name}', 'ProgramFolder', 2)")
endforeach()
# wixl leaves the program's version and language out, as if it had none (the language is that of
# the version resource).
list(APPEND queries -q "UPDATE `File` SET `Version` = '${file_version}', `Language` = '1033' \
WHERE `File` = 'VarnekIT.exe'")
# A package of the same version (a build of other bytes) replaces the installed one too, as a
# newer one does: the upgrade row's highest version is included (VersionMaxInclusive 0x200,
# beside MigrateFeatures 0x1, which keeps the features the administrator chose).
list(APPEND queries
     -q "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'"
     -q "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) \
VALUES ('{${upgrade_code}}', '${VERSION}', 513, 'WIX_UPGRADE_DETECTED')")
run(${MSIBUILD} "${package}" ${queries})

# The summary: the package's time stamp, and its package code (which must differ between
# different packages) made from the package's own bytes with a placeholder code in its place.
function(write_summary package_code)
    string(TIMESTAMP date "%Y/%m/%d %H:%M:%S" UTC)
    file(WRITE "${work}/_SummaryInformation.idt"
         "PropertyId\tValue\ni2\tl255\n_SummaryInformation\tPropertyId\n"
         "9\t{${package_code}}\n12\t${date}\n13\t${date}\n")
    run(${MSIBUILD} "${package}" -i "${work}/_SummaryInformation.idt")
endfunction()
set(ENV{SOURCE_DATE_EPOCH} ${epoch}) # string(TIMESTAMP) takes it
write_summary(00000000-0000-0000-0000-000000000000)
file(SHA256 "${package}" package_sha256)
string(UUID package_code NAMESPACE ${namespace} NAME "package ${package_sha256}" TYPE SHA1 UPPER)
write_summary(${package_code})

file(RENAME "${package}" "${OUTPUT}")
file(REMOVE_RECURSE "${work}")
message(STATUS "${OUTPUT}: product code {${product_code}}")
