SELECT Now(), Date() - 30, 1 + 1, @@IDENTITY
