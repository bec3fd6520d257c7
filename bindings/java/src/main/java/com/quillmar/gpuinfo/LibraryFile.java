package com.quillmar.gpuinfo;

import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.nio.file.FileSystemException;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.StandardOpenOption;
import java.nio.file.attribute.AclEntry;
import java.nio.file.attribute.AclEntryFlag;
import java.nio.file.attribute.AclEntryPermission;
import java.nio.file.attribute.AclEntryType;
import java.nio.file.attribute.AclFileAttributeView;
import java.nio.file.attribute.PosixFilePermission;
import java.nio.file.attribute.PosixFilePermissions;
import java.util.EnumSet;
import java.util.List;
import java.util.Set;

/**
 * A copy of a class-path resource in a folder made for this process that only
 * its owner can reach, so no other user can swap the DLL between its writing
 * and its loading. JNA's own unpacking goes to one folder per user name, which
 * it accepts if it exists and is writable, whoever made it.
 */
final class LibraryFile {
    static final String FOLDER_PREFIX = "quillmar-gpuinfo-";
    static final Set<PosixFilePermission> OWNER_ONLY = PosixFilePermissions.fromString("rwx------");

    private final Path folder;
    private final Path file;

    private LibraryFile(Path folder, Path file) {
        this.folder = folder;
        this.file = file;
    }

    Path folder() {
        return folder;
    }

    /** @return the copy, by its absolute path */
    Path file() {
        return file;
    }

    /**
     * Copies {@code resource} (its last name kept) into a new owner-only folder.
     *
     * @throws IOException if the resource is missing or the folder can't be made owner-only
     */
    static LibraryFile extract(ClassLoader loader, String resource) throws IOException {
        try (InputStream in = loader.getResourceAsStream(resource)) {
            if (in == null) {
                throw new IOException("it is not on the class path");
            }
            Path folder = ownerOnlyFolder();
            Path file = folder.resolve(resource.substring(resource.lastIndexOf('/') + 1));
            try (OutputStream out = Files.newOutputStream(file, StandardOpenOption.CREATE_NEW,
                    StandardOpenOption.WRITE)) {
                in.transferTo(out);
            } catch (IOException e) {
                new LibraryFile(folder, file).delete();
                throw e;
            }
            return new LibraryFile(folder, file);
        }
    }

    /**
     * Deletes the copy and its folder. A DLL Windows has loaded can't be
     * deleted; the caller tries again once the library is disposed.
     *
     * @return whether both are gone
     */
    boolean delete() {
        try {
            Files.deleteIfExists(file);
            Files.deleteIfExists(folder);
            return true;
        } catch (IOException e) {
            return false;
        }
    }

    /** A fresh folder under java.io.tmpdir; fails closed where its access can't be limited to its owner. */
    private static Path ownerOnlyFolder() throws IOException {
        Path tmp = Path.of(System.getProperty("java.io.tmpdir"));
        if (Files.getFileStore(tmp).supportsFileAttributeView("posix")) {
            // Made with these bits at once; a umask can only take bits away.
            return Files.createTempDirectory(FOLDER_PREFIX, PosixFilePermissions.asFileAttribute(OWNER_ONLY));
        }
        if (!Files.getFileStore(tmp).supportsFileAttributeView(AclFileAttributeView.class)) {
            throw new FileSystemException(tmp.toString(), null, "it can limit a folder neither by POSIX bits nor by an ACL");
        }
        Path folder = Files.createTempDirectory(FOLDER_PREFIX);
        try {
            AclFileAttributeView view = Files.getFileAttributeView(folder, AclFileAttributeView.class);
            // Only the folder's owner (the process's user), and nothing inherited from the parent.
            List<AclEntry> ownerOnly = List.of(AclEntry.newBuilder()
                    .setType(AclEntryType.ALLOW)
                    .setPrincipal(view.getOwner())
                    .setPermissions(EnumSet.allOf(AclEntryPermission.class))
                    .setFlags(AclEntryFlag.FILE_INHERIT, AclEntryFlag.DIRECTORY_INHERIT)
                    .build());
            view.setAcl(ownerOnly);
            if (!view.getAcl().equals(ownerOnly)) {
                throw new FileSystemException(folder.toString(), null, "its ACL could not be limited to its owner");
            }
            return folder;
        } catch (IOException | RuntimeException e) {
            Files.deleteIfExists(folder);
            throw e;
        }
    }
}
