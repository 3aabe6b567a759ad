-- Tables the tool reads and writes, as the business system declares them.
CREATE TABLE IF NOT EXISTS clifor (
    Filial SMALLINT NOT NULL,
    Cod_Clifor INTEGER NOT NULL,
    Sistema CHAR(1),
    NOME VARCHAR(40),
    CGC VARCHAR(14),
    PRIMARY KEY (Filial, Cod_Clifor)
);

CREATE TABLE IF NOT EXISTS CliforDeveZozuvor (
    Filial INTEGER NOT NULL,
    Cod_Clifor INTEGER NOT NULL,
    DataCons DATE,
    HoraCons TIME,
    ResultCons BLOB
);

CREATE INDEX IF NOT EXISTS CliforDeveZozuvor_cliente ON CliforDeveZozuvor (Filial, Cod_Clifor);

CREATE TABLE IF NOT EXISTS ParametrosEmpresa (
    filial INTEGER NOT NULL,
    NomeParametro VARCHAR(60) NOT NULL,
    ValorStr VARCHAR(255)
);

CREATE INDEX IF NOT EXISTS ParametrosEmpresa_nome ON ParametrosEmpresa (filial, NomeParametro);
