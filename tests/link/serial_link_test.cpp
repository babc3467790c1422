// pty tests follow
