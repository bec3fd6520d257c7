package com.quillmar.gpuinfo;

/**
 * The adapters could not be listed, or the library could not be loaded.
 *
 * <p>For a failed enumeration {@link #reason()} is the library's last-error text
 * ({@code "dxgi.dll not found"}, {@code "CreateDXGIFactory not found"},
 * {@code "CreateDXGIFactory failed"}); for a library that can't be loaded it names
 * the path and what the loader said.
 */
public final class GpuInfoException extends RuntimeException {
    private static final long serialVersionUID = 1L;

    private final String reason;

    /** @param reason why the call failed, also the exception's message */
    public GpuInfoException(String reason) {
        super(reason);
        this.reason = reason;
    }

    /**
     * @param reason why the call failed, also the exception's message
     * @param cause what the loader threw
     */
    public GpuInfoException(String reason, Throwable cause) {
        super(reason, cause);
        this.reason = reason;
    }

    /** @return why the call failed */
    public String reason() {
        return reason;
    }
}
